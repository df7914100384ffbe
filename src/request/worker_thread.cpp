#include "request/worker_thread.h"

namespace qolv {

std::thread StartWorkerThread(void (*loop)(WorkerSlot*), WorkerSlot* slot) { return std::thread(loop, slot); }

}  // namespace qolv

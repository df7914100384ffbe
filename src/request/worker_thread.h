#pragma once
#include <thread>

namespace qolv {

struct WorkerSlot;

// Starts the thread of one task worker, running loop(slot); throws std::system_error when the
// system cannot make a thread. Alone in its file, so that a test program can link one that
// refuses threads, as a system out of resources does.
std::thread StartWorkerThread(void (*loop)(WorkerSlot*), WorkerSlot* slot);

}  // namespace qolv

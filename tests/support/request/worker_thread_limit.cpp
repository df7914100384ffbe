#include "support/request/worker_thread_limit.h"

#include <atomic>
#include <system_error>

#include "request/worker_thread.h"

namespace qolv {
namespace {
std::atomic<int> g_threadsLeft{-1};
}  // namespace

void testing::LimitWorkerThreads(int count) { g_threadsLeft.store(count); }

std::thread StartWorkerThread(void (*loop)(WorkerSlot*), WorkerSlot* slot) {
  int left = g_threadsLeft.load();
  while (left >= 0) {
    if (left == 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    if (g_threadsLeft.compare_exchange_weak(left, left - 1)) break;
  }
  return std::thread(loop, slot);
}

}  // namespace qolv

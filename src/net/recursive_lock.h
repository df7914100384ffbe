#pragma once
// A re-entrant lock, for the per-connection locks that a listener may take again from inside an
// event of the same connection. It keeps no kernel object, so a connection object resting in the
// pools holds no handle.
//
// Not std::recursive_mutex: the mingw-w64 runtime gives it a trivial destructor that never
// destroys the lock underneath, which keeps a heap record and, once the lock was ever contended,
// a kernel event; connection objects come and go all the time, so a service that ran for months
// would run out of handles.
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/slim_lock.h"

namespace qolv::net {

class CRecursiveLock {
 public:
  CRecursiveLock() = default;
  CRecursiveLock(const CRecursiveLock&) = delete;
  CRecursiveLock& operator=(const CRecursiveLock&) = delete;

  void lock() {
    const std::thread::id self = std::this_thread::get_id();
    // Only this thread ever stores its own id here, so the test needs no ordering.
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return;
    }
    lock_.lock();
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
  }

  bool try_lock() {
    const std::thread::id self = std::this_thread::get_id();
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return true;
    }
    if (!lock_.try_lock()) return false;
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
    return true;
  }

  // Only by the thread that holds the lock.
  void unlock() {
    if (--depth_ != 0) return;
    owner_.store(std::thread::id(), std::memory_order_relaxed);
    lock_.unlock();
  }

 private:
  platform::SlimLock lock_;
  std::atomic<std::thread::id> owner_{};
  uint32_t depth_ = 0;  // read and written only by the owner
};

}  // namespace qolv::net

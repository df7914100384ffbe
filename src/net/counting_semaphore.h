#pragma once
// A counting semaphore over a slim lock and condition. The gate's threads block here only on its
// slow path, so plain blocking costs nothing that matters; std::counting_semaphore of the
// toolchain in use can miss a wake-up under contention (GCC bug 98033) and leave a waiter asleep
// for good.
#include <cstdint>

#include "platform/slim_lock.h"

namespace qolv::net {

class CCountingSemaphore {
 public:
  CCountingSemaphore() = default;
  CCountingSemaphore(const CCountingSemaphore&) = delete;
  CCountingSemaphore& operator=(const CCountingSemaphore&) = delete;

  // Waits without limit until a unit is available and takes it.
  void Acquire();
  // Adds count units and wakes as many waiters.
  void Release(int32_t count = 1);

 private:
  platform::SlimLock lock_;
  platform::SlimCondition available_;
  int64_t units_ = 0;
};

}  // namespace qolv::net

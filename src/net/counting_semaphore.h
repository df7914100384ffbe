#pragma once
// A counting semaphore over a mutex and a condition variable. The gate's threads block here
// only on its slow path, so plain blocking costs nothing that matters; std::counting_semaphore
// of the toolchain in use can miss a wake-up under contention (GCC bug 98033) and leave a
// waiter asleep for good.
#include <condition_variable>
#include <cstdint>
#include <mutex>

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
  std::mutex lock_;
  std::condition_variable available_;
  int64_t units_ = 0;
};

}  // namespace qolv::net

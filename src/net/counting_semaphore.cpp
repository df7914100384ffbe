#include "net/counting_semaphore.h"

#include <mutex>

#include "platform/clock.h"

namespace qolv::net {

void CCountingSemaphore::Acquire() {
  std::lock_guard<platform::SlimLock> guard(lock_);
  while (units_ <= 0) available_.Wait(lock_, platform::kInfinite);
  --units_;
}

void CCountingSemaphore::Release(int32_t count) {
  {
    std::lock_guard<platform::SlimLock> guard(lock_);
    units_ += count;
  }
  if (count == 1) {
    available_.NotifyOne();
  } else {
    available_.NotifyAll();
  }
}

}  // namespace qolv::net

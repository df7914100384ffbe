#include "net/counting_semaphore.h"

namespace qolv::net {

void CCountingSemaphore::Acquire() {
  std::unique_lock<std::mutex> guard(lock_);
  available_.wait(guard, [this] { return units_ > 0; });
  --units_;
}

void CCountingSemaphore::Release(int32_t count) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    units_ += count;
  }
  if (count == 1) {
    available_.notify_one();
  } else {
    available_.notify_all();
  }
}

}  // namespace qolv::net

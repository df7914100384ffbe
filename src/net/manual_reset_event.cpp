#include "net/manual_reset_event.h"

#include <chrono>

#include "platform/socket_types.h"

namespace qolv::net {

void CManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  signalledChanged_.notify_all();
}

void CManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool CManualResetEvent::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs == platform::kInfinite) {
    signalledChanged_.wait(lock, [this] { return signalled_; });
    return true;
  }
  return signalledChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return signalled_; });
}

}  // namespace qolv::net

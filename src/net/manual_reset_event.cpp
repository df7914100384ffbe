#include "net/manual_reset_event.h"

#include <chrono>
#include <mutex>

#include "platform/clock.h"

namespace qolv::net {

void CManualResetEvent::Set() {
  {
    std::lock_guard<platform::SlimLock> lock(mutex_);
    signalled_ = true;
  }
  signalledChanged_.NotifyAll();
}

void CManualResetEvent::Reset() {
  std::lock_guard<platform::SlimLock> lock(mutex_);
  signalled_ = false;
}

bool CManualResetEvent::Wait(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::lock_guard<platform::SlimLock> lock(mutex_);
  while (!signalled_) {
    uint32_t left = platform::kInfinite;
    if (timeoutMs != platform::kInfinite) {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (waited >= timeoutMs) return false;
      left = timeoutMs - static_cast<uint32_t>(waited);
    }
    signalledChanged_.Wait(mutex_, left);
  }
  return true;
}

}  // namespace qolv::net

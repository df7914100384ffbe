#pragma once
// An event that stays signalled until it is reset, and releases every waiter while it is
// signalled: the server's "stopped" state that WaitStopped waits for.
#include <cstdint>

#include "platform/slim_lock.h"

namespace qolv::net {

class CManualResetEvent {
 public:
  explicit CManualResetEvent(bool signalled) : signalled_(signalled) {}
  CManualResetEvent(const CManualResetEvent&) = delete;
  CManualResetEvent& operator=(const CManualResetEvent&) = delete;

  void Set();
  void Reset();
  // True once the event is signalled; false when timeoutMs passed first (platform::kInfinite
  // waits without limit).
  bool Wait(uint32_t timeoutMs);

 private:
  platform::SlimLock mutex_;
  platform::SlimCondition signalledChanged_;
  bool signalled_;
};

}  // namespace qolv::net

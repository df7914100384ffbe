#include "net/spin_flag.h"

#include <thread>

#include "net/cpu_pause.h"

namespace qolv::net {

bool CSpinFlag::try_lock() {
  uint32_t expected = 0;
  return held_.compare_exchange_strong(expected, 1, std::memory_order_acq_rel, std::memory_order_acquire);
}

void CSpinFlag::lock() {
  // Most holds last a few instructions, so retry at once; back off gently, and hand the
  // processor over only when the holder seems to have been preempted.
  for (uint32_t failures = 0; !try_lock(); ++failures) {
    if (failures % 4096 == 4095) {
      std::this_thread::yield();
    } else if (failures % 64 == 63) {
      CpuPause();
    }
  }
}

}  // namespace qolv::net

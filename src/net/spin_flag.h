#pragma once
// A one-word lock for critical sections of a few instructions. It meets the standard Lockable
// requirements, so std::lock_guard and std::scoped_lock work with it. Not re-entrant.
#include <atomic>
#include <cstdint>

namespace qolv::net {

class CSpinFlag {
 public:
  CSpinFlag() = default;
  CSpinFlag(const CSpinFlag&) = delete;
  CSpinFlag& operator=(const CSpinFlag&) = delete;

  void lock();
  bool try_lock();
  void unlock() { held_.store(0, std::memory_order_release); }

 private:
  std::atomic<uint32_t> held_{0};
};

}  // namespace qolv::net

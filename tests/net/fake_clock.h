#pragma once
// Replaces the engine's tick count while it lives, so rules measured in milliseconds are tested
// without waiting.
#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "support/seams/platform_seams.h"

namespace qolv::testing {

class FakeClock {
 public:
  explicit FakeClock(uint32_t start) {
    now_.store(start);
    platform::SetTickSource(&Read);
  }
  ~FakeClock() { platform::SetTickSource(nullptr); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  void Set(uint32_t now) { now_.store(now); }
  void Advance(uint32_t ms) { now_.fetch_add(ms); }
  uint32_t Now() const { return now_.load(); }

 private:
  static uint32_t Read() { return now_.load(); }
  static inline std::atomic<uint32_t> now_{0};
};

}  // namespace qolv::testing

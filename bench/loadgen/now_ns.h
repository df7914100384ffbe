#pragma once
// The load generator's one clock: monotonic nanoseconds, for deadlines and latencies alike.
#include <chrono>
#include <cstdint>

namespace qolv::bench {

inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace qolv::bench

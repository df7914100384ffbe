#pragma once
#include <chrono>
#include <climits>

namespace qolv::platform::posix {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, rounded up so a wait never ends early; 0 once it passed.
inline int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace qolv::platform::posix

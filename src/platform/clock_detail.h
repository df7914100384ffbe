#pragma once
#include <cstdint>

namespace qolv::platform::detail {

// The OS tick count. TickCount forwards to it; test programs link a TickCount of their own that
// can stand in a fake clock.
uint32_t SystemTickCount();

}  // namespace qolv::platform::detail

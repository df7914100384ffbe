#pragma once
#include <cstdint>

namespace qolv::platform::detail {

// The OS tick count; clock.cpp lets tests replace it.
uint32_t SystemTickCount();

}  // namespace qolv::platform::detail

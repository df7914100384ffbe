#pragma once
// The OS side of EndProcessNow, which forwards to it; test programs link an EndProcessNow of
// their own that can record the end instead.
#include <cstdint>

namespace qolv::platform::detail {

[[noreturn]] void EndProcess(uint32_t exitCode);

}  // namespace qolv::platform::detail

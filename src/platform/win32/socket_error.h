#pragma once
#include <cstdint>

namespace qolv::platform::win32 {

// Sets the thread's system error to code and returns it, for functions whose result is the error.
uint32_t ReportError(uint32_t code);
// The calling thread's last socket error, left as the system error and returned.
uint32_t ReportSocketError();

}  // namespace qolv::platform::win32

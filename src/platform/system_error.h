#pragma once
#include <cstdint>

namespace qolv::platform {

// The calling thread's last system error (GetLastError/SetLastError on Windows,
// a thread-local value elsewhere), always in Windows numbering.
uint32_t GetSystemError();
void SetSystemError(uint32_t code);

}  // namespace qolv::platform

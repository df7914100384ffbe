#include <windows.h>

#include "platform/system_error.h"

namespace qolv::platform {

uint32_t GetSystemError() { return ::GetLastError(); }
void SetSystemError(uint32_t code) { ::SetLastError(code); }

}  // namespace qolv::platform

#include "platform/system_error.h"

#include <windows.h>

namespace qolv::platform {

uint32_t GetSystemError() { return ::GetLastError(); }
void SetSystemError(uint32_t code) { ::SetLastError(code); }

}  // namespace qolv::platform

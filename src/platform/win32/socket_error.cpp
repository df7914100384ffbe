#include "platform/win32/socket_error.h"

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
// clang-format on

#include "platform/system_error.h"

namespace qolv::platform::win32 {

uint32_t ReportError(uint32_t code) {
  SetSystemError(code);
  return code;
}

uint32_t ReportSocketError() { return ReportError(static_cast<uint32_t>(::WSAGetLastError())); }

}  // namespace qolv::platform::win32

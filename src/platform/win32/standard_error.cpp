#include "platform/standard_error.h"

#include <windows.h>

#include <cstring>

namespace qolv::platform {

void WriteStandardError(const char* text) {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  size_t left = std::strlen(text);
  while (left > 0) {
    DWORD written = 0;
    if (!::WriteFile(handle, text, static_cast<DWORD>(left), &written, nullptr) || written == 0) return;
    text += written;
    left -= written;
  }
}

}  // namespace qolv::platform

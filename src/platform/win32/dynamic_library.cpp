#include "platform/dynamic_library.h"

#include <windows.h>

#include "platform/win32/utf16.h"

namespace qolv::platform {
namespace {

std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : "error " + std::to_string(code);
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

LibraryHandle LoadDynamicLibrary(const char* path, std::string* detail) {
  // The wide call: the path is UTF-8, and the ANSI one would misread a folder outside its code page.
  HMODULE library = ::LoadLibraryW(win32::Utf8ToWide(path).c_str());
  if (library == nullptr) {
    const DWORD code = ::GetLastError();
    if (detail != nullptr) *detail = SystemErrorText(code);
    // Formatting the text may touch the thread's error; the caller must see the load's own.
    ::SetLastError(code);
  }
  return library;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadDynamicLibrary(LibraryHandle library) {
  if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace qolv::platform

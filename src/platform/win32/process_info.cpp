#include <windows.h>

#include "platform/process_info.h"

namespace qolv::platform {

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }
uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

std::string ExecutablePath() {
  char buffer[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(buffer, n);
}

uint32_t ProcessorCount() {
  static const uint32_t count = [] {
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<uint32_t>(info.dwNumberOfProcessors) : 1u;
  }();
  return count;
}

bool IsDebuggerAttached() { return ::IsDebuggerPresent() != FALSE; }

}  // namespace qolv::platform

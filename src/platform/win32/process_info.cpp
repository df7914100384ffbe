#include <windows.h>

#include "platform/process_end_detail.h"
#include "platform/process_info.h"
#include "platform/win32/utf16.h"

namespace qolv::platform {

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }
uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

std::string ExecutablePath() {
  // The wide call, so a path outside the ANSI code page still comes out as UTF-8.
  wchar_t buffer[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (n == 0) return {};
  if (n >= MAX_PATH) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return {};
  }
  return win32::WideToUtf8(buffer);
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

// TerminateProcess, not ExitProcess: that one would still call into every loaded library, the SDK
// included, while one of its calls may be stuck.
void detail::EndProcess(uint32_t exitCode) {
  ::TerminateProcess(::GetCurrentProcess(), exitCode);
  ::ExitProcess(exitCode);  // not reached: a process that terminates itself ends there
}

}  // namespace qolv::platform

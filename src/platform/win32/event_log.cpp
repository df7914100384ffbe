#include <windows.h>

#include <string>
#include <vector>

#include "platform/event_log_detail.h"
#include "platform/win32/utf16.h"

namespace qolv::platform::detail {

bool WriteSystemEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count) {
  const HANDLE eventSource = ::RegisterEventSourceW(nullptr, win32::Utf8ToWide(source).c_str());
  if (eventSource == nullptr) return false;
  std::vector<std::wstring> texts;
  for (uint16_t i = 0; i < count; ++i) texts.push_back(win32::Utf8ToWide(strings[i]));
  std::vector<LPCWSTR> pointers;
  for (const std::wstring& text : texts) pointers.push_back(text.c_str());
  const BOOL written = ::ReportEventW(eventSource, type, 0, 0, nullptr, count, 0, pointers.data(), nullptr);
  const DWORD error = ::GetLastError();
  ::DeregisterEventSource(eventSource);
  if (written) return true;
  ::SetLastError(error);
  return false;
}

}  // namespace qolv::platform::detail

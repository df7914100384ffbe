#include "platform/pump_wait.h"

#include <windows.h>

#include "platform/error_codes.h"

namespace qolv::platform {
namespace {

// An event nobody signals: the wait ends only when messages arrive or the time is up.
HANDLE NeverSignalled() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void DispatchWaitingMessages() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

bool PumpWait(uint32_t milliseconds) {
  if (milliseconds == 0) {
    ::Sleep(0);
    return true;
  }
  const HANDLE event = NeverSignalled();
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= milliseconds) break;
    const DWORD remaining = milliseconds - elapsed;
    const DWORD result = ::MsgWaitForMultipleObjects(1, &event, FALSE, remaining, QS_ALLINPUT);
    if (result == WAIT_FAILED) {
      // Without the event the caller still gets its pause, only without messages.
      ::Sleep(remaining);
      break;
    }
    if (result != WAIT_OBJECT_0 + 1) break;
    DispatchWaitingMessages();
  }
  ::SetLastError(err::kTimeout);
  return true;
}

}  // namespace qolv::platform

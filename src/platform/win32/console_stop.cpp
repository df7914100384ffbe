#include "platform/console_stop.h"

#include <windows.h>

#include <atomic>

namespace qolv::platform {
namespace {

std::atomic<bool> g_stopRequested{false};

BOOL WINAPI OnConsoleControl(DWORD control) {
  switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      g_stopRequested.store(true, std::memory_order_relaxed);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool WatchConsoleStopRequests() { return ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != FALSE; }

bool ConsoleStopRequested() { return g_stopRequested.load(std::memory_order_relaxed); }

bool StandardInputCanSignalEnd() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  const DWORD type = ::GetFileType(input);
  if (type == FILE_TYPE_PIPE) return true;
  // The null device is a character device too, but only a console has a console mode.
  DWORD mode = 0;
  return type == FILE_TYPE_CHAR && ::GetConsoleMode(input, &mode) != FALSE;
}

}  // namespace qolv::platform

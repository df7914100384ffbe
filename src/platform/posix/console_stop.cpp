#include "platform/console_stop.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/errno_map.h"

namespace qolv::platform {
namespace {

// Written from a signal handler, so it must be lock-free.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { g_stopRequested.store(true, std::memory_order_relaxed); }

}  // namespace

bool WatchConsoleStopRequests() {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT}) {
    if (::sigaction(signal, &action, nullptr) != 0) {
      posix::SetSystemErrorFromErrno();
      return false;
    }
  }
  return true;
}

bool ConsoleStopRequested() { return g_stopRequested.load(std::memory_order_relaxed); }

bool StandardInputCanSignalEnd() {
  struct stat status {};
  if (::fstat(STDIN_FILENO, &status) != 0) return false;
  return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || ::isatty(STDIN_FILENO) == 1;
}

}  // namespace qolv::platform

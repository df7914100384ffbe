#include "platform/process_info.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/process_end_detail.h"
#include "platform/system_error.h"

namespace qolv::platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n < 0) {
    posix::SetSystemErrorFromErrno();
    return {};
  }
  // readlink does not say when it cut the path; a full buffer may be a cut one.
  if (n == 0 || static_cast<size_t>(n) >= sizeof buffer) {
    SetSystemError(err::kInsufficientBuffer);
    return {};
  }
  return std::string(buffer, static_cast<size_t>(n));
}

uint32_t ProcessorCount() {
  static const uint32_t count = [] {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint32_t>(n) : 1u;
  }();
  return count;
}

bool IsDebuggerAttached() {
  // A tracer (gdb, strace, lldb) shows up as a non-zero TracerPid. Read with plain system calls
  // into a stack buffer, because the crash filter asks from inside a signal handler.
  char status[4096];
  const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = ::read(fd, status, sizeof status - 1);
  ::close(fd);
  if (n <= 0) return false;
  status[n] = 0;
  static constexpr char kKey[] = "\nTracerPid:";
  const char* at = std::strstr(status, kKey);
  if (at == nullptr) return false;
  for (at += sizeof kKey - 1; *at == ' ' || *at == '\t'; ++at) {
  }
  return *at >= '1' && *at <= '9';
}

void detail::EndProcess(uint32_t exitCode) { ::_exit(static_cast<int>(exitCode)); }

}  // namespace qolv::platform

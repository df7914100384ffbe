#pragma once
// Crash handling of the service process: hardening when the session starts, and a minidump
// beside the executable when a crash is handled by nobody else.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/crash_handler.h"

namespace qolv {

// Lives on the session routine's stack from its first step to its last. Install hardens the
// process and puts CrashFilter in place; the end of the guard puts the previous filter back.
class CrashGuard {
 public:
  CrashGuard() = default;
  ~CrashGuard();
  CrashGuard(const CrashGuard&) = delete;
  CrashGuard& operator=(const CrashGuard&) = delete;

  // Sends the hardening results to the debugger output only: the log is not configured yet.
  void Install();

 private:
  platform::PreviousCrashFilter previousFilter_;
  // Lets CrashFilter run on the installing thread after a stack overflow.
  std::optional<platform::ThreadCrashStack> crashStack_;
};

// Writes one dump per process and returns 0 (continue the search: the system's own crash
// handling follows) in every case. Under a debugger it writes nothing. A crash on another
// thread while the dump is being written only reports itself and waits (bounded) for the dump
// to be complete, so that the process does not end under a half-written file. On Linux it runs
// inside the signal handler and uses async-signal-safe calls only.
int32_t CrashFilter(platform::CrashContext* exception);

// Room for any dump path DumpFileName writes.
inline constexpr size_t kDumpPathCapacity = 4096 + 32;

// The dump file's full path for a crash now: the executable's folder, the path separator,
// "windev__", the local time as MMDDhhmmss, ".dmp". Written zero-terminated into path without
// allocating; false when it does not fit into capacity bytes.
bool DumpFileName(char* path, size_t capacity);

}  // namespace qolv

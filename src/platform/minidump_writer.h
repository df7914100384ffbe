#pragma once
// Writing a minidump of the current process for a crash. Windows: MiniDumpWriteDump from
// dbghelp.dll, loaded at run time. Linux: our own writer of the standard MDMP layout, built in
// and async-signal-safe, so it can run inside the crash signal handler.
#include <cstdint>

#include "platform/crash_handler.h"

namespace qolv::platform {

// A file handle (a HANDLE on Windows, a descriptor elsewhere).
using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Creates the file for writing, shared with nobody, always anew (an existing file is cut to
// nothing). kInvalidFile with the system error set on failure. Safe inside a crash filter.
FileHandle CreateDumpFile(const char* path);
void CloseDumpFile(FileHandle file);

class MinidumpWriter {
 public:
  enum class LoadResult {
    kReady,
    kNoLibrary,   // dbghelp.dll could not be loaded
    kNoFunction,  // dbghelp.dll has no MiniDumpWriteDump
  };

  MinidumpWriter() = default;
  ~MinidumpWriter() { Unload(); }
  MinidumpWriter(const MinidumpWriter&) = delete;
  MinidumpWriter& operator=(const MinidumpWriter&) = delete;

  // Windows loads dbghelp.dll and looks the writer up; on Linux the writer is always there.
  LoadResult Load();

  // Writes the dump of the current process for the crash into file, with the crashing thread's
  // id and registers. False with the system error set on failure.
  bool Write(FileHandle file, CrashContext* context);

  // Unloads what Load loaded; harmless when nothing is loaded.
  void Unload();

 private:
  void* library_ = nullptr;
  void* function_ = nullptr;
};

}  // namespace qolv::platform

#include "platform/minidump_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/errno_map.h"
#include "platform/posix/minidump/crash_context.h"
#include "platform/posix/minidump/linux_minidump.h"
#include "platform/system_error.h"

namespace qolv::platform {

// Linux has no share modes; the file is readable by its owner only, since a dump holds memory
// of the process.
FileHandle CreateDumpFile(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    posix::SetSystemErrorFromErrno();
    return kInvalidFile;
  }
  return fd;
}

void CloseDumpFile(FileHandle file) {
  if (file != kInvalidFile) ::close(static_cast<int>(file));
}

// The writer is part of the program, so there is nothing to load.
MinidumpWriter::LoadResult MinidumpWriter::Load() { return LoadResult::kReady; }
void MinidumpWriter::Unload() {}

bool MinidumpWriter::Write(FileHandle file, CrashContext* context) {
  const int error = posix::WriteLinuxMinidump(static_cast<int>(file), *context);
  if (error == 0) return true;
  SetSystemError(posix::FromErrno(error));
  return false;
}

}  // namespace qolv::platform

#pragma once
#include "platform/posix/minidump/crash_context.h"

namespace qolv::platform::posix {

// Writes a minidump of this process for the crash into fd (open for writing, empty): system
// info (x86-64, Linux), the process id, every thread (see the file for what is known of threads
// other than the crashing one), the modules mapped from files with their GNU build ids, the
// exception (signal, code and fault address), the memory of the stacks and around the crashing
// instruction, and the process's maps and status texts. Async-signal-safe; one dump at a time.
// Returns 0, or the errno of the failure.
int WriteLinuxMinidump(int fd, const CrashContext& crash);

}  // namespace qolv::platform::posix

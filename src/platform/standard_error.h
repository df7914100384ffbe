#pragma once

namespace qolv::platform {

// Writes a text to the process's standard error with one unbuffered write, safe inside a crash
// filter (write on Linux, WriteFile on Windows). Test programs point the debugger-output hook
// here, so that a parent process can read what a child sent to the debugger.
void WriteStandardError(const char* text);

}  // namespace qolv::platform

#pragma once
#include <cstdint>
#include <string>

namespace qolv::platform {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();

// Full path of the running executable (UTF-8); empty with the system error set when it cannot
// be read.
std::string ExecutablePath();

// Number of processors, read from the system once per process.
uint32_t ProcessorCount();

// True when a debugger or tracer is attached to this process.
bool IsDebuggerAttached();

// Ends the process at once with the exit code: no exit handlers, no destructors of static
// objects, and the other threads stop wherever they are (Windows: TerminateProcess; Linux:
// _exit). For a process that must not wait for a thread stuck in foreign code.
[[noreturn]] void EndProcessNow(uint32_t exitCode);

}  // namespace qolv::platform

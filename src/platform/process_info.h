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

}  // namespace qolv::platform

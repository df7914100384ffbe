#pragma once
#include <cstdint>

namespace qolv::platform::posix {

// Maps an errno value to its Windows equivalent where one exists; other values pass through.
uint32_t FromErrno(int error);

// Sets the thread's system error from errno and returns the mapped value.
uint32_t SetSystemErrorFromErrno();

// Sets the thread's system error to code and returns it, for functions whose result is the error.
uint32_t ReportError(uint32_t code);

}  // namespace qolv::platform::posix

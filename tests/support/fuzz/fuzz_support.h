#pragma once
// What every fuzz target shares: a property check that stops the run with the failing input,
// and the log lines the code under test wrote, kept off the disk.
#include <string>
#include <vector>

namespace qolv::fuzz {

// Prints the broken property and aborts, so that libFuzzer saves the input that broke it.
[[noreturn]] void Fail(const char* file, int line, const char* property, const std::string& detail);

// Routes every log line into memory instead of the debugger output and the log file. Call it
// once, before anything logs: it puts a plain file where the logger's folder would be, so the
// logger's file writes fail quietly (as it allows) instead of filling the disk with one line per
// input.
void KeepLogInMemory();
// The messages logged since the last call (line head and CR LF removed), oldest first.
std::vector<std::string> TakeLogMessages();

}  // namespace qolv::fuzz

#define FUZZ_CHECK(condition, detail)                                               \
  do {                                                                              \
    if (!(condition)) ::qolv::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (false)

#pragma once
// The log lines the process writes while a test runs, read from the debugger output, which
// receives every line synchronously whatever the level.
#include <string>
#include <vector>

namespace qolv::testing {

inline constexpr char kErrorTag[] = "@@@";  // level 0
inline constexpr char kWarnTag[] = "+++";   // level 20
inline constexpr char kInfoTag[] = "***";   // level 30

struct LogLine {
  std::string tag;
  std::string message;
};

// Captures from construction to destruction; one at a time per process.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> Lines() const;
  int Count(const std::string& tag, const std::string& message) const;
  int CountStartingWith(const std::string& tag, const std::string& prefix) const;
  // The first message with tag that starts with prefix; empty when there is none.
  std::string FindStartingWith(const std::string& tag, const std::string& prefix) const;
  // Waits, up to a generous limit, until count lines with tag and message were written.
  bool WaitFor(const std::string& tag, const std::string& message, int count = 1) const;
  bool WaitForPrefix(const std::string& tag, const std::string& prefix, int count = 1) const;
};

}  // namespace qolv::testing

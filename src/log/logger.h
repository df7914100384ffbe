#pragma once
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/slim_lock.h"

namespace qolv {

// Log levels. Any int is a level; these are the four the system uses.
inline constexpr int DBG_ERROR = 0, DBG_SESSION = 10, DBG_WARN = 20, DBG_INFO = 30;

// What the logger takes from its surroundings; the service uses the real executable path and
// clock, tests put the log into a folder of their own and drive the date.
struct LoggerEnvironment {
  std::string executablePath;
  std::function<platform::LocalTime()> localNow;

  static LoggerEnvironment System();
};

// The process-wide log writer. Every call writes one line synchronously: always to the debugger
// output, and to the day's file in the log folder beside the executable when the level is
// within the threshold. The file is opened and closed for every line, so it can be deleted or
// copied while the service runs.
class Logger {
 public:
  static constexpr int kDefaultThreshold = 31;

  // The process-wide logger with the real executable path and clock. The first call must be
  // made before other threads log (the service's session routine makes it).
  static Logger& Instance();

  explicit Logger(LoggerEnvironment environment);
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Names the program in every line and resets the threshold; called once per process.
  void Configure();

  // Expands the format without a length limit and writes the line. Throws std::runtime_error
  // when the C runtime cannot expand the format; nothing is written then.
  [[gnu::format(gnu_printf, 3, 4)]] void Print(int level, const char* format, ...);

  // Writes one line; an empty message yields a bare CR LF.
  void WriteLine(int level, const char* message);

  int Threshold() const { return threshold_; }
  // The current log file. It changes when a line is written on a new day, so read it only
  // while no other thread logs.
  const std::string& Path() const { return path_; }
  // True when new files begin with the UTF-16 byte-order mark (see DetectUtf16Mark).
  bool Utf16Mark() const { return utf16Mark_; }

 private:
  void WriteToFile(int level, const char* bytes, size_t count);
  // Adopts the byte-order mark of today's file if it exists, so that files created later keep
  // the same form as the one an operator's tools already read.
  void DetectUtf16Mark();
  std::string DatedName(const std::string& prefix) const;

  LoggerEnvironment environment_;
  bool utf16Mark_ = false;
  int threshold_ = kDefaultThreshold;
  std::string programName_;
  std::string path_;
  platform::SlimLock lock_;
};

}  // namespace qolv

#include "log/logger.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/debug_output.h"
#include "platform/open_file.h"
#include "platform/process_info.h"

namespace qolv {
namespace {

constexpr char kProgramName[] = "QolvPrinterProxy";

const char* TagFor(int level) {
  if (level < 0) return "***";
  if (level < 10) return "@@@";
  if (level < 20) return "===";
  if (level < 30) return "+++";
  return "***";
}

// The executable's path without its extension. Only a dot inside the file name starts an
// extension: Linux executables usually have none, and a dot in a folder name must not cut the path.
std::string StemOf(const std::string& executablePath) {
  const size_t separator = executablePath.find_last_of(platform::kPathSeparator);
  const size_t dot = executablePath.find_last_of('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return executablePath;
  return executablePath.substr(0, dot);
}

// The log's paths are UTF-8 (the executable's path is read as such); a path made from a char
// string would be read in the ANSI code page on Windows.
std::filesystem::path FileSystemPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Tools that read the log as UTF-16 need the byte-order mark at the start of every file, so a
// file that is still empty after opening gets it before its first line.
void WriteMarkIfEmpty(std::FILE* file, bool utf16Mark) {
  if (!utf16Mark) return;
  std::fseek(file, 0, SEEK_END);
  if (std::ftell(file) != 0) return;
  static const unsigned char kMark[2] = {0xFF, 0xFE};
  std::fwrite(kMark, 1, sizeof kMark, file);
}

std::string Expand(const char* format, va_list args) {
  char small[1024];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
    va_end(again);
    return std::string(small, static_cast<size_t>(length));
  }
  std::string text;
  if (length >= 0) {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  if (length < 0) throw std::runtime_error("log format cannot be expanded");
  return text;
}

}  // namespace

LoggerEnvironment LoggerEnvironment::System() { return {platform::ExecutablePath(), &platform::LocalNow}; }

Logger& Logger::Instance() {
  static Logger instance(LoggerEnvironment::System());
  return instance;
}

Logger::Logger(LoggerEnvironment environment) : environment_(std::move(environment)) {
  path_ = DatedName(StemOf(environment_.executablePath));
  const size_t separator = path_.find_last_of(platform::kPathSeparator);
  if (separator != std::string::npos) {
    path_.insert(separator, std::string(1, platform::kPathSeparator) + "log");
    // An existing folder is fine; if it cannot be made, later file creations fail quietly.
    std::error_code ignored;
    std::filesystem::create_directory(FileSystemPath(path_.substr(0, separator + 4)), ignored);
  }
  DetectUtf16Mark();
}

void Logger::Configure() {
  std::lock_guard<platform::SlimLock> guard(lock_);
  programName_ = kProgramName;
  threshold_ = kDefaultThreshold;
  if (utf16Mark_) {
    utf16Mark_ = false;
    DetectUtf16Mark();
  }
}

void Logger::Print(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message;
  try {
    message = Expand(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  WriteLine(level, message.c_str());
}

void Logger::WriteLine(int level, const char* message) {
  std::string line;
  if (message == nullptr || *message == '\0') {
    line = "\r\n";
  } else {
    const platform::LocalTime t = environment_.localNow();
    char head[96];
    std::snprintf(head, sizeof head, "%04d/%02d/%02d %02d:%02d:%02d.%03d %u %u ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond, platform::CurrentProcessId(),
                  platform::CurrentThreadId());
    line.append(head).append(programName_).append(TagFor(level)).append(" ").append(message).append("\r\n");
  }
  {
    std::lock_guard<platform::SlimLock> guard(lock_);
    platform::DebugOutput(line.c_str());
  }
  WriteToFile(level, line.data(), line.size());
}

void Logger::WriteToFile(int level, const char* bytes, size_t count) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (level > threshold_) return;

  std::FILE* file = platform::OpenFile(path_.c_str(), "r+b");
  if (file == nullptr) {
    // The current file is missing (deleted, or the first line of the day): recreate it under
    // the same name; the date is checked again with the next line.
    file = platform::OpenFile(path_.c_str(), "ab");
    if (file == nullptr) return;
    WriteMarkIfEmpty(file, utf16Mark_);
    std::fwrite(bytes, 1, count, file);
    std::fclose(file);
    return;
  }

  try {
    const size_t dash = path_.find_last_of('-');
    const std::string today = DatedName(dash == std::string::npos ? std::string() : path_.substr(0, dash));
    if (today != path_) {
      std::fclose(file);
      file = nullptr;
      path_ = today;
      // Appending keeps what a file of the new name already holds, should the clock have
      // been set back across midnight.
      file = platform::OpenFile(path_.c_str(), "ab");
      if (file == nullptr) {
        platform::DebugOutputWide(L"@@@@@ Failed to create file.\r\n");
        return;
      }
      WriteMarkIfEmpty(file, utf16Mark_);
    } else {
      std::fseek(file, 0, SEEK_END);
    }
    std::fwrite(bytes, 1, count, file);
    std::fclose(file);
  } catch (const std::exception&) {
    if (file != nullptr) std::fclose(file);
    platform::DebugOutputWide(L"@@@@@ Failed to dump into file.\r\n");
  }
}

void Logger::DetectUtf16Mark() {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(FileSystemPath(path_), error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) return;
  std::FILE* file = platform::OpenFile(path_.c_str(), "r+b");
  if (file == nullptr) return;
  unsigned char head[2] = {0, 0};
  std::fseek(file, 0, SEEK_SET);
  const size_t read = std::fread(head, 1, sizeof head, file);
  if (std::ferror(file) == 0) utf16Mark_ = read == 2 && head[0] == 0xFF && head[1] == 0xFE;
  std::fclose(file);
}

std::string Logger::DatedName(const std::string& prefix) const {
  const platform::LocalTime now = environment_.localNow();
  char date[16];
  std::snprintf(date, sizeof date, "-%04d%02d%02d.log", now.year, now.month, now.day);
  return prefix + date;
}

}  // namespace qolv

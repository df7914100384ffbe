#include "support/request/log_capture.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/debug_output.h"
#include "support/seams/platform_seams.h"

namespace qolv::testing {
namespace {

constexpr auto kPatience = std::chrono::seconds(30);

struct Captured {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<LogLine> lines;
};

Captured& Shared() {
  static Captured captured;
  return captured;
}

// A line reads "date time pid tid <program><tag> <message>\r\n".
LogLine Split(const std::string& text) {
  size_t at = 0;
  for (int field = 0; field < 4 && at != std::string::npos; ++field) {
    at = text.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos) return {"", text};
  const size_t space = text.find(' ', at);
  if (space == std::string::npos || space < at + 3) return {"", text};
  std::string message = text.substr(space + 1);
  if (message.size() >= 2 && message.compare(message.size() - 2, 2, "\r\n") == 0)
    message.resize(message.size() - 2);
  return {text.substr(space - 3, 3), message};
}

void Hook(const char* text) {
  Captured& captured = Shared();
  std::lock_guard<std::mutex> guard(captured.mutex);
  captured.lines.push_back(Split(text));
  captured.changed.notify_all();
}

template <typename Match>
int CountMatching(const Match& match) {
  int count = 0;
  for (const LogLine& line : Shared().lines) count += match(line) ? 1 : 0;
  return count;
}

template <typename Match>
bool WaitMatching(const Match& match, int count) {
  Captured& captured = Shared();
  std::unique_lock<std::mutex> lock(captured.mutex);
  return captured.changed.wait_for(lock, kPatience, [&] { return CountMatching(match) >= count; });
}

}  // namespace

LogCapture::LogCapture() {
  {
    std::lock_guard<std::mutex> guard(Shared().mutex);
    Shared().lines.clear();
  }
  platform::SetDebugOutputHook(&Hook);
}

LogCapture::~LogCapture() { platform::SetDebugOutputHook(nullptr); }

std::vector<LogLine> LogCapture::Lines() const {
  std::lock_guard<std::mutex> guard(Shared().mutex);
  return Shared().lines;
}

int LogCapture::Count(const std::string& tag, const std::string& message) const {
  std::lock_guard<std::mutex> guard(Shared().mutex);
  return CountMatching([&](const LogLine& line) { return line.tag == tag && line.message == message; });
}

int LogCapture::CountStartingWith(const std::string& tag, const std::string& prefix) const {
  std::lock_guard<std::mutex> guard(Shared().mutex);
  return CountMatching([&](const LogLine& line) {
    return line.tag == tag && line.message.compare(0, prefix.size(), prefix) == 0;
  });
}

std::string LogCapture::FindStartingWith(const std::string& tag, const std::string& prefix) const {
  std::lock_guard<std::mutex> guard(Shared().mutex);
  for (const LogLine& line : Shared().lines) {
    if (line.tag == tag && line.message.compare(0, prefix.size(), prefix) == 0) return line.message;
  }
  return std::string();
}

bool LogCapture::WaitFor(const std::string& tag, const std::string& message, int count) const {
  return WaitMatching([&](const LogLine& line) { return line.tag == tag && line.message == message; }, count);
}

bool LogCapture::WaitForPrefix(const std::string& tag, const std::string& prefix, int count) const {
  return WaitMatching(
      [&](const LogLine& line) {
        return line.tag == tag && line.message.compare(0, prefix.size(), prefix) == 0;
      },
      count);
}

}  // namespace qolv::testing

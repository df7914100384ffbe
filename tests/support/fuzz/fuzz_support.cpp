#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "support/seams/platform_seams.h"

namespace qolv::fuzz {
namespace {

std::mutex messagesLock;
std::vector<std::string> messages;

// A line reads "date time pid tid <program><tag> <message>\r\n": the message follows the fifth space.
void Keep(const char* line) {
  std::string text(line);
  size_t at = 0;
  for (int spaces = 0; spaces < 5 && at != std::string::npos; ++spaces) {
    at = text.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  text.erase(0, at == std::string::npos ? 0 : at);
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
  std::lock_guard<std::mutex> guard(messagesLock);
  messages.push_back(std::move(text));
}

}  // namespace

void Fail(const char* file, int line, const char* property, const std::string& detail) {
  std::fprintf(stderr, "\n%s:%d: property broken: %s\n%s\n", file, line, property, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

void KeepLogInMemory() {
  namespace fs = std::filesystem;
  const std::string self = platform::ExecutablePath();
  const fs::path folder = fs::path(self).parent_path() / "log";
  std::error_code error;
  if (!fs::exists(folder, error)) std::ofstream(folder).put('\n');
  platform::SetDebugOutputHook(&Keep);
}

std::vector<std::string> TakeLogMessages() {
  std::lock_guard<std::mutex> guard(messagesLock);
  std::vector<std::string> taken;
  taken.swap(messages);
  return taken;
}

}  // namespace qolv::fuzz

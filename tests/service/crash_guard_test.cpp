#include "service/crash_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/crash_handler.h"
#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "support/seams/platform_seams.h"

namespace qolv {
namespace {

std::string Stamp(const platform::LocalTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d", t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

TEST(DumpFileName, LiesBesideTheExecutableAndCarriesTheLocalTime) {
  const std::string before = Stamp(platform::LocalNow());
  char path[kDumpPathCapacity];
  ASSERT_TRUE(DumpFileName(path, sizeof path));
  const std::string after = Stamp(platform::LocalNow());

  const std::string executable = platform::ExecutablePath();
  const std::string folder = executable.substr(0, executable.find_last_of(platform::kPathSeparator) + 1);
  const std::string name(path);
  ASSERT_EQ(name.rfind(folder, 0), 0u) << name;
  std::smatch parts;
  const std::string file = name.substr(folder.size());
  ASSERT_TRUE(std::regex_match(file, parts, std::regex("windev__([0-9]{10})\\.dmp"))) << file;
  if (before <= after) {  // no year in the stamp: New Year's midnight cannot be ordered
    EXPECT_LE(before, parts[1].str());
    EXPECT_LE(parts[1].str(), after);
  }
}

TEST(DumpFileName, RefusesABufferTooSmall) {
  char path[kDumpPathCapacity];
  ASSERT_TRUE(DumpFileName(path, sizeof path));
  const size_t length = std::char_traits<char>::length(path);
  std::vector<char> exact(length + 1);
  EXPECT_TRUE(DumpFileName(exact.data(), exact.size()));
  std::vector<char> short_(length);
  EXPECT_FALSE(DumpFileName(short_.data(), short_.size()));
}

std::vector<std::string> g_sent;
void Record(const char* text) { g_sent.push_back(text); }

// Only the Windows build has hardening policies; there the results are reported, on Linux
// nothing is. Under Wine the user-mode exception policy functions are missing, which ends
// Install without policy texts; on Windows both policy texts follow.
TEST(CrashGuard, InstallReportsTheHardeningItDid) {
  g_sent.clear();
  platform::SetDebugOutputHook(Record);
  {
    CrashGuard guard;
    guard.Install();
  }
  platform::SetDebugOutputHook(nullptr);
  if (!platform::kProcessHardeningExists) {
    EXPECT_TRUE(g_sent.empty()) << g_sent.front();
    return;
  }
  ASSERT_GE(g_sent.size(), 2u);
  EXPECT_TRUE(std::regex_match(g_sent[0], std::regex("HeapSetInformation, bRet: <[01], [0-9]+>\\.\n")))
      << g_sent[0];
  // A 64-bit process always has DEP; the call fails there with 87.
  EXPECT_EQ(g_sent[1], "SetProcessDEPPolicy, bRet: <0, 87>.\n");
  // Then nothing (no policy functions), or the set text, after the get text when the read worked.
  const std::vector<std::string> rest(g_sent.begin() + 2, g_sent.end());
  if (rest.empty()) return;
  ASSERT_LE(rest.size(), 2u);
  if (rest.size() == 2) {
    EXPECT_TRUE(std::regex_match(rest[0], std::regex("GetProcessUserModeExceptionPolicy, bRet: [01]\\.\n")));
  }
  EXPECT_TRUE(std::regex_match(
      rest.back(), std::regex("SetProcessUserModeExceptionPolicy, bRet: [01], dwFlags: [0-9]+\\.\n")))
      << rest.back();
}

}  // namespace
}  // namespace qolv

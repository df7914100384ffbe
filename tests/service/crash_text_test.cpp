#include "service/crash_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "support/seams/platform_seams.h"

namespace qolv {
namespace {

std::string Format(const char* format, std::initializer_list<CrashTextArgument> arguments,
                   size_t capacity = 260) {
  std::vector<char> buffer(capacity, '?');
  if (!FormatCrashText(buffer.data(), capacity, format, arguments)) return "<failed>";
  return buffer.data();
}

TEST(CrashText, FormatsTheConversionsTheCrashTextsUse) {
  EXPECT_EQ(Format("HeapSetInformation, bRet: <%lu, %lu>.\n", {1u, 0u}),
            "HeapSetInformation, bRet: <1, 0>.\n");
  EXPECT_EQ(Format("%lu", {4294967295u}), "4294967295");
  // %hu takes the low 16 bits: 0x12345 shows as 0x2345.
  EXPECT_EQ(Format("Minidump was saved failed: %hu.\n", {0x12345u}), "Minidump was saved failed: 9029.\n");
  EXPECT_EQ(Format("%02d%02d%02d%02d%02d", {12, 31, 23, 59, 59}), "1231235959");
  EXPECT_EQ(Format("%02d|%02d|%02d", {0, 7, 123}), "00|07|123");
  EXPECT_EQ(Format("\\%s\n", {"C:\\Svc\\windev__0703140509.dmp"}), "\\C:\\Svc\\windev__0703140509.dmp\n");
  EXPECT_EQ(Format("100%% %s", {""}), "100% ");
}

TEST(CrashText, RefusesWhatItCannotFormatExactly) {
  EXPECT_EQ(Format("%lu %lu", {1u}), "<failed>") << "too few arguments";
  EXPECT_EQ(Format("%lu", {1u, 2u}), "<failed>") << "too many arguments";
  EXPECT_EQ(Format("%s", {7u}), "<failed>") << "a number for a text";
  EXPECT_EQ(Format("%lu", {"seven"}), "<failed>") << "a text for a number";
  EXPECT_EQ(Format("%x", {7u}), "<failed>") << "a conversion it does not know";
  EXPECT_EQ(Format("%", {7u}), "<failed>");
  // The buffer holds the terminating zero too: five characters need six bytes.
  EXPECT_EQ(Format("%s", {"12345"}, 6), "12345");
  EXPECT_EQ(Format("%s", {"123456"}, 6), "<failed>");
  EXPECT_EQ(Format("%02d%02d%02d%02d%02d", {1, 2, 3, 4, 5}, 11), "0102030405");
}

std::vector<std::string> g_sent;
void Record(const char* text) { g_sent.push_back(text); }

TEST(CrashText, SendsTheBareFormatWhenTheTextDoesNotFit) {
  g_sent.clear();
  platform::SetDebugOutputHook(Record);
  SendCrashText("Current function has crashed.Shit.\n");
  SendCrashText("Process has crashed.\nMinidump was saved to: \n\\%s\n", {"/srv/windev__0101000000.dmp"});
  const std::string longPath(300, 'd');
  SendCrashText("Process has crashed.\nMinidump was saved to: \n\\%s\n", {longPath.c_str()});
  platform::SetDebugOutputHook(nullptr);
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[0], "Current function has crashed.Shit.\n");
  EXPECT_EQ(g_sent[1], "Process has crashed.\nMinidump was saved to: \n\\/srv/windev__0101000000.dmp\n");
  EXPECT_EQ(g_sent[2], "Process has crashed.\nMinidump was saved to: \n\\%s\n");
}

}  // namespace
}  // namespace qolv

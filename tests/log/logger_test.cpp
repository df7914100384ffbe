#include "log/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "support/seams/platform_seams.h"
#include "support/utf8_path.h"

namespace qolv {
namespace {

namespace fs = std::filesystem;
using testing::Utf8Of;

std::mutex g_mutex;
platform::LocalTime g_now;
std::vector<std::string> g_debugLines;

platform::LocalTime Now() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_now;
}

void SetDay(int day) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_now.day = day;
}

void CaptureDebug(const char* text) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_debugLines.push_back(text);
}

std::vector<std::string> DebugLines() {
  std::lock_guard<std::mutex> guard(g_mutex);
  return g_debugLines;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The head of a line written on this thread at the fixed test time.
std::string Head() {
  return "2021/06/01 09:05:07.042 " + std::to_string(platform::CurrentProcessId()) + " " +
         std::to_string(platform::CurrentThreadId()) + " ";
}

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // A folder name outside the ANSI code page: the log's paths are UTF-8 and must still work.
    folder_ =
        testing::NonAsciiTemporaryPath("log-" + std::to_string(platform::CurrentProcessId()) + "-" + name);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    {
      std::lock_guard<std::mutex> guard(g_mutex);
      g_now = platform::LocalTime{2021, 6, 1, 9, 5, 7, 42};
      g_debugLines.clear();
    }
    platform::SetDebugOutputHook(&CaptureDebug);
  }

  void TearDown() override {
    platform::SetDebugOutputHook(nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  Logger MakeLogger(const std::string& executable = "Proxy.exe") {
    return Logger(LoggerEnvironment{Utf8Of(folder_ / executable), &Now});
  }

  fs::path LogFile(const std::string& date) const { return folder_ / "log" / ("Proxy-" + date + ".log"); }

  fs::path folder_;
};

TEST_F(LoggerTest, LinesHaveTheExactLayout) {
  Logger logger = MakeLogger();
  logger.WriteLine(DBG_INFO, "before configure");
  logger.Configure();
  EXPECT_EQ(logger.Threshold(), 31);
  logger.WriteLine(DBG_INFO, "hello world");
  logger.Print(DBG_ERROR, "n=%d s=%s u=%u", -7, "text", 4000000000u);
  logger.WriteLine(DBG_SESSION, "ends in a line break\r\n");

  const std::string expected = Head() + "*** before configure\r\n" +             //
                               Head() + "QolvPrinterProxy*** hello world\r\n" +  //
                               Head() + "QolvPrinterProxy@@@ n=-7 s=text u=4000000000\r\n" + Head() +
                               "QolvPrinterProxy=== ends in a line break\r\n\r\n";
  EXPECT_EQ(ReadFile(LogFile("20210601")), expected);

  const std::vector<std::string> debug = DebugLines();
  ASSERT_EQ(debug.size(), 4u);
  EXPECT_EQ(debug[1], Head() + "QolvPrinterProxy*** hello world\r\n");
}

TEST_F(LoggerTest, LevelRangesPickTheTagAndTheThresholdLimitsOnlyTheFile) {
  Logger logger = MakeLogger();
  logger.Configure();
  for (int level : {-1, 9, 10, 29, 30, 31, 35}) logger.Print(level, "level %d", level);

  const std::string prefix = Head() + "QolvPrinterProxy";
  EXPECT_EQ(ReadFile(LogFile("20210601")), prefix + "*** level -1\r\n" + prefix + "@@@ level 9\r\n" + prefix +
                                               "=== level 10\r\n" + prefix + "+++ level 29\r\n" + prefix +
                                               "*** level 30\r\n" + prefix + "*** level 31\r\n");
  const std::vector<std::string> debug = DebugLines();
  ASSERT_EQ(debug.size(), 7u);
  EXPECT_EQ(debug[6], prefix + "*** level 35\r\n");
}

TEST_F(LoggerTest, EmptyMessageWritesOnlyCrLf) {
  Logger logger = MakeLogger();
  logger.Configure();
  logger.WriteLine(DBG_SESSION, "");
  EXPECT_EQ(ReadFile(LogFile("20210601")), "\r\n");
  EXPECT_EQ(DebugLines(), std::vector<std::string>{"\r\n"});
}

TEST_F(LoggerTest, PrintHasNoLengthLimit) {
  Logger logger = MakeLogger();
  logger.Configure();
  const std::string longText(20000, 'x');
  logger.Print(DBG_INFO, "[%s]", longText.c_str());
  EXPECT_EQ(ReadFile(LogFile("20210601")), Head() + "QolvPrinterProxy*** [" + longText + "]\r\n");
}

TEST_F(LoggerTest, PrintRaisesWhenTheFormatCannotBeExpanded) {
  // A wide text that has no narrow form makes the C runtime fail the expansion.
  const wchar_t unpaired[] = {static_cast<wchar_t>(0xD800), 0};
  char probe[16];
  if (std::snprintf(probe, sizeof probe, "%ls", unpaired) >= 0)
    GTEST_SKIP() << "this C runtime narrows anything";
  Logger logger = MakeLogger();
  logger.Configure();
  EXPECT_THROW(logger.Print(DBG_INFO, "%ls", unpaired), std::runtime_error);
  EXPECT_TRUE(DebugLines().empty());
  EXPECT_FALSE(fs::exists(LogFile("20210601")));
}

TEST_F(LoggerTest, PathIsTheStemWithDateInALogFolderBesideTheExecutable) {
  fs::create_directories(folder_ / "with.dot");
  const std::string sep(1, platform::kPathSeparator);
  struct Case {
    std::string executable;
    std::string expected;
  };
  const Case cases[] = {
      {"Proxy.exe", "log" + sep + "Proxy-20210601.log"},
      {"Proxy.v2.exe", "log" + sep + "Proxy.v2-20210601.log"},
      {"Proxy", "log" + sep + "Proxy-20210601.log"},
      // A dot in a folder name is not an extension.
      {"with.dot" + sep + "Proxy", "with.dot" + sep + "log" + sep + "Proxy-20210601.log"},
  };
  for (const Case& c : cases) {
    const Logger logger = MakeLogger(c.executable);
    EXPECT_EQ(logger.Path(), Utf8Of(folder_ / c.expected)) << c.executable;
    EXPECT_TRUE(fs::is_directory(testing::PathFromUtf8(logger.Path()).parent_path())) << c.executable;
  }
  // Without any folder in the path there is nothing to insert the log folder into.
  EXPECT_EQ(Logger(LoggerEnvironment{"Proxy.exe", &Now}).Path(), "Proxy-20210601.log");
}

TEST_F(LoggerTest, NewDaySwitchesToANewFile) {
  Logger logger = MakeLogger();
  logger.Configure();
  logger.WriteLine(DBG_INFO, "first day");
  SetDay(2);
  logger.WriteLine(DBG_INFO, "second day");

  EXPECT_EQ(logger.Path(), Utf8Of(LogFile("20210602")));
  EXPECT_EQ(ReadFile(LogFile("20210601")), Head() + "QolvPrinterProxy*** first day\r\n");
  const std::string secondHead = "2021/06/02" + Head().substr(10);
  EXPECT_EQ(ReadFile(LogFile("20210602")), secondHead + "QolvPrinterProxy*** second day\r\n");
}

TEST_F(LoggerTest, MissingFileIsRecreatedUnderItsNameBeforeTheDaySwitches) {
  Logger logger = MakeLogger();
  logger.Configure();
  logger.WriteLine(DBG_INFO, "a");
  fs::remove(LogFile("20210601"));
  SetDay(2);
  logger.WriteLine(DBG_INFO, "b");
  EXPECT_EQ(logger.Path(), Utf8Of(LogFile("20210601")));
  logger.WriteLine(DBG_INFO, "c");
  EXPECT_EQ(logger.Path(), Utf8Of(LogFile("20210602")));

  const std::string head = "2021/06/02" + Head().substr(10) + "QolvPrinterProxy*** ";
  EXPECT_EQ(ReadFile(LogFile("20210601")), head + "b\r\n");
  EXPECT_EQ(ReadFile(LogFile("20210602")), head + "c\r\n");
}

TEST_F(LoggerTest, DaySwitchKeepsWhatAFileOfTheNewDayHolds) {
  // A clock set back across midnight must not wipe a day's log.
  Logger logger = MakeLogger();
  logger.Configure();
  logger.WriteLine(DBG_INFO, "a");
  WriteFile(LogFile("20210602"), "kept\r\n");
  SetDay(2);
  logger.WriteLine(DBG_INFO, "b");
  EXPECT_EQ(ReadFile(LogFile("20210602")),
            "kept\r\n" + ("2021/06/02" + Head().substr(10)) + "QolvPrinterProxy*** b\r\n");
}

TEST_F(LoggerTest, NewDayFileThatCannotBeCreatedLosesTheLineAndIsTriedAgain) {
  Logger logger = MakeLogger();
  logger.Configure();
  logger.WriteLine(DBG_INFO, "a");
  fs::create_directory(LogFile("20210602"));  // a folder where the file should go
  SetDay(2);
  logger.WriteLine(DBG_INFO, "lost");

  EXPECT_EQ(logger.Path(), Utf8Of(LogFile("20210602")));
  EXPECT_EQ(ReadFile(LogFile("20210601")), Head() + "QolvPrinterProxy*** a\r\n");
  const std::vector<std::string> debug = DebugLines();
  ASSERT_EQ(debug.size(), 3u);
  EXPECT_EQ(debug[2], "@@@@@ Failed to create file.\r\n");

  fs::remove(LogFile("20210602"));
  logger.WriteLine(DBG_INFO, "c");
  EXPECT_EQ(ReadFile(LogFile("20210602")), "2021/06/02" + Head().substr(10) + "QolvPrinterProxy*** c\r\n");
}

TEST_F(LoggerTest, ByteOrderMarkOfTheStartFileIsRepeatedInNewFiles) {
  fs::create_directories(folder_ / "log");
  const std::string mark = "\xFF\xFE";
  WriteFile(LogFile("20210601"), mark + "old\r\n");
  Logger logger = MakeLogger();
  logger.Configure();
  EXPECT_TRUE(logger.Utf16Mark());
  logger.WriteLine(DBG_INFO, "a");
  SetDay(2);
  logger.WriteLine(DBG_INFO, "b");
  EXPECT_EQ(ReadFile(LogFile("20210601")), mark + "old\r\n" + Head() + "QolvPrinterProxy*** a\r\n");
  EXPECT_EQ(ReadFile(LogFile("20210602")),
            mark + "2021/06/02" + Head().substr(10) + "QolvPrinterProxy*** b\r\n");

  // Anything but exactly FF FE at the start means plain files.
  for (const std::string& start : {std::string("\xFF"), std::string("\xFE\xFF"), std::string()}) {
    SetDay(1);
    WriteFile(LogFile("20210601"), start);
    Logger plain = MakeLogger();
    plain.Configure();
    EXPECT_FALSE(plain.Utf16Mark());
    fs::remove(LogFile("20210603"));
    SetDay(3);
    plain.WriteLine(DBG_INFO, "c");
    EXPECT_EQ(ReadFile(LogFile("20210603")).substr(0, 10), "2021/06/03");
  }
}

TEST_F(LoggerTest, ManyThreadsNeverInterleaveLines) {
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 150;
  Logger logger = MakeLogger();
  logger.Configure();
  std::vector<std::thread> threads;
  std::vector<uint32_t> threadIds(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      threadIds[t] = platform::CurrentThreadId();
      const std::string filler(300, static_cast<char>('a' + t));
      for (int i = 0; i < kLinesEach; ++i) logger.Print(DBG_INFO, "t%d #%d %s", t, i, filler.c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::string content = ReadFile(LogFile("20210601"));
  std::set<std::string> seen;
  size_t lines = 0;
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    seen.insert(content.substr(start, end - start));
    ++lines;
    start = end + 2;
  }
  std::set<std::string> expected;
  const std::string pid = std::to_string(platform::CurrentProcessId());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLinesEach; ++i) {
      expected.insert("2021/06/01 09:05:07.042 " + pid + " " + std::to_string(threadIds[t]) +
                      " QolvPrinterProxy*** t" + std::to_string(t) + " #" + std::to_string(i) + " " +
                      std::string(300, static_cast<char>('a' + t)));
    }
  }
  EXPECT_EQ(lines, expected.size());
  EXPECT_TRUE(seen == expected) << "lines were mixed up or lost";
  EXPECT_EQ(DebugLines().size(), static_cast<size_t>(kThreads * kLinesEach));
}

}  // namespace
}  // namespace qolv

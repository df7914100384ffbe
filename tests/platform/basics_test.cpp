#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/error_codes.h"
#include "platform/process_info.h"
#include "platform/process_resources.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"
#include "support/seams/platform_seams.h"

namespace qolv::platform {
namespace {

TEST(ProcessInfo, ExecutablePathNamesThisTestProgram) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  const size_t cut = path.find_last_of(kPathSeparator);
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(path.compare(cut + 1, 14, "platform_tests"), 0) << path;
}

TEST(ProcessInfo, ThreadIdsDifferBetweenThreadsAndProcessIdIsShared) {
  const uint32_t mine = CurrentThreadId();
  uint32_t other = mine;
  uint32_t otherPid = 0;
  std::thread([&] {
    other = CurrentThreadId();
    otherPid = CurrentProcessId();
  }).join();
  EXPECT_NE(mine, other);
  EXPECT_EQ(otherPid, CurrentProcessId());
  EXPECT_NE(CurrentProcessId(), 0u);
  EXPECT_GE(ProcessorCount(), 1u);
}

TEST(ProcessInfo, ResourcesCountOpenSocketsAndTouchedMemory) {
  ASSERT_TRUE(StartSocketLibrary());
  ProcessResources before;
  ASSERT_TRUE(ReadProcessResources(CurrentProcessId(), before));
  std::vector<SocketHandle> sockets;
  for (int i = 0; i < 8; ++i) sockets.push_back(CreateStreamSocket(kFamilyInet));
  // Written through a volatile pointer, so that no optimiser drops the pages.
  constexpr size_t kTouched = 64u << 20;
  const std::unique_ptr<char[]> block(new char[kTouched]);
  volatile char* touch = block.get();
  for (size_t i = 0; i < kTouched; i += 4096) touch[i] = 1;
  ProcessResources during;
  ASSERT_TRUE(ReadProcessResources(CurrentProcessId(), during));
  EXPECT_GE(during.handles, before.handles + 8);
  EXPECT_GE(during.residentBytes, before.residentBytes + kTouched / 2);
  for (SocketHandle socket : sockets) CloseSocket(socket);
  StopSocketLibrary();

  ProcessResources none;
  EXPECT_FALSE(ReadProcessResources(0xFFFFFFF0u, none));
}

TEST(SystemError, IsPerThread) {
  // The threads meet through atomics only, so no library call can overwrite the values in between.
  std::atomic<int> step{0};
  uint32_t seenByOther = 1;
  std::thread other([&] {
    while (step.load() != 1) {
    }
    SetSystemError(err::kInvalidParameter);
    seenByOther = GetSystemError();
    step.store(2);
  });
  SetSystemError(err::kObjectNotFound);
  step.store(1);
  while (step.load() != 2) {
  }
  const uint32_t mine = GetSystemError();
  other.join();
  EXPECT_EQ(mine, err::kObjectNotFound);
  EXPECT_EQ(seenByOther, err::kInvalidParameter);
}

TEST(Clock, LocalNowAgreesWithTheCLibrary) {
  const std::time_t before = std::time(nullptr);
  const LocalTime now = LocalNow();
  const std::time_t after = std::time(nullptr);
  std::tm t{};
  t.tm_year = now.year - 1900;
  t.tm_mon = now.month - 1;
  t.tm_mday = now.day;
  t.tm_hour = now.hour;
  t.tm_min = now.minute;
  t.tm_sec = now.second;
  t.tm_isdst = -1;
  const std::time_t converted = std::mktime(&t);
  EXPECT_GE(converted, before - 1);
  EXPECT_LE(converted, after + 1);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(Clock, TickCountAdvancesAcrossASleep) {
  const uint32_t start = TickCount();
  SleepMs(20);
  const uint32_t elapsed = TickCount() - start;
  EXPECT_GE(elapsed, 15u);  // timer granularity may round a little down
  EXPECT_LT(elapsed, 10000u);
}

std::vector<std::string>* g_captured = nullptr;
void Capture(const char* text) { g_captured->push_back(text); }

TEST(DebugOutput, HookReceivesNarrowAndWideTexts) {
  std::vector<std::string> captured;
  g_captured = &captured;
  SetDebugOutputHook(&Capture);
  DebugOutput("narrow line\r\n");
  DebugOutputWide(L"@@@@@ Failed to create file.\r\n");
  SetDebugOutputHook(nullptr);
  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0], "narrow line\r\n");
  EXPECT_EQ(captured[1], "@@@@@ Failed to create file.\r\n");
}

}  // namespace
}  // namespace qolv::platform

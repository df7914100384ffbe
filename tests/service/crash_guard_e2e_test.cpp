// The crash guard in a real crashing process: a copy of qolv_crash_child runs in a folder of its
// own, crashes the way the test asks, and the test examines the dump, the texts and the exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "minidump_file.h"
#include "platform/clock.h"
#include "platform/crash_handler.h"
#include "platform/process_info.h"
#include "platform/process_spawn.h"
#include "platform/system_error.h"
#include "support/utf8_path.h"

namespace qolv {
namespace {

namespace fs = std::filesystem;
using testing::Utf8Of;

// Set by the build: lldb's path ("" without it), and whether the tests run under Wine, whose
// stack-overflow handling skips the unhandled-exception filter.
const std::string kLldb = QOLV_LLDB;
constexpr bool kUnderWine = QOLV_UNDER_WINE;

// Wine's minidump writer alone takes several seconds; lldb loads debug information.
constexpr uint32_t kChildLimitMs = 120000;

constexpr uint32_t kLinuxPlatformId = 0x8201;
constexpr uint32_t kBuildIdSignature = 0x4270454C;  // "BpEL"
constexpr uint16_t kAmd64 = 9;

std::string Stamp(const platform::LocalTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d", t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class CrashChild : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    // A folder name outside the ANSI code page, as an install folder may be: the dump lands there all the
    // same.
    folder_ = testing::NonAsciiTemporaryPath("crash-" + std::to_string(platform::CurrentProcessId()) + "-" +
                                             std::to_string(serial++));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    const std::string name = std::string("qolv_crash_child") + platform::kExecutableSuffix;
    program_ = folder_ / name;
    fs::copy_file(testing::PathFromUtf8(platform::ExecutablePath()).parent_path() / name, program_);
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void Run(const std::string& mode, const platform::SpawnOptions& options = {}) {
    before_ = Stamp(platform::LocalNow());
    ASSERT_TRUE(child_.Start(Utf8Of(program_), {mode}, options))
        << "system error " << platform::GetSystemError();
    ASSERT_TRUE(child_.Wait(kChildLimitMs)) << "the child did not end in time";
    after_ = Stamp(platform::LocalNow());
    errors_ = child_.StandardError();
  }

  std::vector<fs::path> Dumps() const {
    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      if (entry.path().filename().string().rfind("windev", 0) == 0) dumps.push_back(entry.path());
    }
    return dumps;
  }

  // The one dump the child must have left, loaded; fails the test otherwise.
  void LoadTheOneDump(test::MinidumpFile& dump) {
    const std::vector<fs::path> dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u) << errors_;
    dumpPath_ = dumps[0];
    ASSERT_TRUE(dump.Load(dumpPath_)) << dump.why();
  }

  // lldb's output for the commands, run in batch mode on the dump.
  std::string Lldb(const std::string& commands) {
    platform::ChildProcess lldb;
    EXPECT_TRUE(lldb.Start(kLldb, {"--batch", "-c", Utf8Of(dumpPath_), "-o", commands, Utf8Of(program_)}));
    EXPECT_TRUE(lldb.Wait(kChildLimitMs)) << "lldb did not end in time";
    return lldb.StandardOutput();
  }

  uint32_t Termination() const { return child_.exit().Termination(); }

  fs::path folder_;
  fs::path program_;
  fs::path dumpPath_;
  platform::ChildProcess child_;
  std::string before_;
  std::string after_;
  std::string errors_;
};

TEST_F(CrashChild, CrashLeavesOneDumpNamedAfterTheLocalTimeAndTheSystemEndsTheProcess) {
  Run("segv");
  EXPECT_EQ(Termination(), platform::kAccessViolationTermination) << errors_;
  test::MinidumpFile dump;
  LoadTheOneDump(dump);

  const std::string name = dumpPath_.filename().string();
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(name, parts, std::regex("windev__([0-9]{10})\\.dmp"))) << name;
  // The stamp has no year; a run across New Year's midnight cannot be ordered and is let through.
  if (before_ <= after_) {
    EXPECT_LE(before_, parts[1].str());
    EXPECT_LE(parts[1].str(), after_);
  }
  EXPECT_EQ(Count(errors_, "Process has crashed.\nMinidump was saved to: \n\\" + Utf8Of(dumpPath_) + "\n"),
            1u)
      << errors_;
  EXPECT_EQ(Count(errors_, "Current function has crashed"), 0u);
  EXPECT_EQ(Count(errors_, "IsDebuggerPresent"), 0u);
  EXPECT_EQ(Count(errors_, "HeapSetInformation, bRet: <"), platform::kProcessHardeningExists ? 1u : 0u)
      << errors_;
  EXPECT_EQ(Count(errors_, "SetProcessDEPPolicy, bRet: <"), platform::kProcessHardeningExists ? 1u : 0u);

  const auto exception = dump.ExceptionRecord();
  ASSERT_TRUE(exception.has_value());
  EXPECT_EQ(exception->code, Termination());
  EXPECT_EQ(dump.ProcessorArchitecture(), kAmd64);
  const std::vector<test::MinidumpFile::Thread> threads = dump.Threads();
  EXPECT_GE(threads.size(), 2u) << "the crashing thread and the idle one";
  bool found = false;
  for (const auto& thread : threads) {
    if (thread.id != exception->threadId) continue;
    found = true;
    const uint64_t rsp = dump.ContextRsp(exception->contextRva);
    EXPECT_LE(thread.stackStart, rsp);
    EXPECT_LT(rsp, thread.stackStart + thread.stackSize) << "the stack kept must hold the crash's frame";
  }
  EXPECT_TRUE(found) << "the exception's thread is in the thread list";
  bool programListed = false;
  for (const auto& module : dump.Modules()) {
    if (!module.name.ends_with(program_.filename().string())) continue;
    programListed = true;
    // Our Linux writer adds the build id that lets a debugger match the file.
    if (dump.PlatformId() == kLinuxPlatformId) {
      EXPECT_EQ(module.cvSignature, kBuildIdSignature);
      EXPECT_GT(module.cvSize, 4u);
    }
  }
  EXPECT_TRUE(programListed);
}

TEST_F(CrashChild, LldbNamesTheCrashingFunctionAndWhatTheOtherThreadDoes) {
  if (kLldb.empty()) GTEST_SKIP() << "no lldb in this build";
  Run("segv");
  test::MinidumpFile dump;
  LoadTheOneDump(dump);
  const std::string backtrace = Lldb("bt all");
  EXPECT_NE(backtrace.find("stop reason = signal SIGSEGV"), std::string::npos) << backtrace;
  EXPECT_NE(backtrace.find("QolvCrashHere"), std::string::npos) << backtrace;
  EXPECT_NE(backtrace.find("main"), std::string::npos) << backtrace;
  EXPECT_NE(backtrace.find("QolvIdleWorker"), std::string::npos) << backtrace;
}

// On the main thread, and on a task worker, which runs the SDK's calls: a runaway recursion
// there is as likely as anywhere.
class StackOverflow : public CrashChild, public ::testing::WithParamInterface<const char*> {};

TEST_P(StackOverflow, IsStillDumped) {
  if (kUnderWine) GTEST_SKIP() << "Wine ends a thread whose stack overflowed without calling the filter";
  Run(GetParam());
  EXPECT_EQ(Termination(), platform::kAccessViolationTermination) << errors_;
  test::MinidumpFile dump;
  LoadTheOneDump(dump);
  if (kLldb.empty()) return;
  EXPECT_NE(Lldb("bt 3").find("QolvRecurse"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(OnTheMainThreadOrATaskWorker, StackOverflow,
                         ::testing::Values("overflow", "worker-overflow"));

// Two ways to crash a second time: another thread while the first crash is being handled, and
// the filter's own thread inside the filter. Either way one dump, one report of the second crash.
class SecondCrash : public CrashChild, public ::testing::WithParamInterface<const char*> {};

TEST_P(SecondCrash, WritesNoSecondDumpAndIsReported) {
  Run(GetParam());
  EXPECT_EQ(Termination(), platform::kAccessViolationTermination) << errors_;
  test::MinidumpFile dump;
  LoadTheOneDump(dump);
  EXPECT_EQ(Count(errors_, "Current function has crashed.Shit.\n"), 1u) << errors_;
  EXPECT_EQ(Count(errors_, "Process has crashed."), 1u);
}

INSTANTIATE_TEST_SUITE_P(OnAnotherThreadOrInsideTheFilter, SecondCrash,
                         ::testing::Values("two-threads", "nested"));

TEST_F(CrashChild, UnderATracerNothingIsWrittenAndTheSignalStays) {
  platform::SpawnOptions traced;
  traced.underTracer = true;
  if (!child_.Start(Utf8Of(program_), {"segv"}, traced)) {
    ASSERT_EQ(platform::GetSystemError(), 50u);
    GTEST_SKIP() << "no tracing on this system";
  }
  ASSERT_TRUE(child_.Wait(kChildLimitMs));
  errors_ = child_.StandardError();
  if (child_.exit().exited && child_.exit().exitCode == platform::ChildProcess::kTracerUnavailable) {
    GTEST_SKIP() << "ptrace is not permitted here";
  }
  EXPECT_EQ(Count(errors_, "IsDebuggerPresent return TRUE.\n"), 1u) << errors_;
  EXPECT_EQ(Count(errors_, "Process has crashed"), 0u);
  EXPECT_TRUE(Dumps().empty());
  EXPECT_EQ(Termination(), platform::kAccessViolationTermination);
}

// The ends that raise no exception of the system: abort(), and std::terminate after an exception
// that escaped a task, an engine thread (a broken invariant) or a bounded heap's allocation. Each
// leaves the one dump, taken on the thread that ended, and the process ends as a failure.
class FatalEnd : public CrashChild, public ::testing::WithParamInterface<const char*> {};

TEST_P(FatalEnd, LeavesOneDumpOfTheEndingThreadAndEndsAsAFailure) {
  Run(GetParam());
  EXPECT_EQ(Termination(), platform::kFatalEndTermination) << errors_;
  test::MinidumpFile dump;
  LoadTheOneDump(dump);
  EXPECT_EQ(Count(errors_, "Process has crashed.\nMinidump was saved to: \n\\" + Utf8Of(dumpPath_) + "\n"),
            1u)
      << errors_;
  EXPECT_EQ(Count(errors_, "Current function has crashed"), 0u);
  std::smatch ending;
  ASSERT_TRUE(std::regex_search(errors_, ending, std::regex("fatal end on thread ([0-9]+) "))) << errors_;
  const auto exception = dump.ExceptionRecord();
  ASSERT_TRUE(exception.has_value());
  EXPECT_EQ(exception->code, Termination());
  EXPECT_EQ(std::to_string(exception->threadId), ending[1].str());
}

INSTANTIATE_TEST_SUITE_P(AbortOrTerminate, FatalEnd,
                         ::testing::Values("abort", "task-throws", "engine-throws", "heap-exhausted"));

// The filter in place before the guard handles a crash after the guard ended, whether it came
// through the platform layer or is a C signal handler (which ends the process with code 7).
TEST_F(CrashChild, EndingTheGuardPutsThePreviousFilterBack) {
  Run("restore-filter");
  EXPECT_EQ(Count(errors_, "outer filter\n"), 1u) << errors_;
  EXPECT_TRUE(Dumps().empty());
  EXPECT_EQ(Termination(), platform::kAccessViolationTermination);

  Run("restore-signal");
  EXPECT_EQ(Count(errors_, "outer signal handler\n"), 1u) << errors_;
  EXPECT_TRUE(Dumps().empty());
  EXPECT_TRUE(child_.exit().exited);
  EXPECT_EQ(child_.exit().exitCode, 7u);
}

}  // namespace
}  // namespace qolv

// The built service through the Windows service manager (Wine's, here): installed by its own
// switch, started with "sc start", answering on port 9199 with the sample SDK beside it, stopped
// with "sc stop" and removed. The service process is the service manager's child, so the test
// ends it by its id, read from its log, should it not stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/service_control.h"
#include "platform/socket_io.h"
#include "support/request/frame_client.h"
#include "support/service/proxy_process.h"
#include "support/service/scm/service_state.h"
#include "support/utf8_path.h"

namespace qolv::testing {
namespace {

using test::ServiceState;
using test::WaitForServiceState;

constexpr char kSessionStart[] =
    "QolvPrinterProxy=== >>>>>>>>>>>> SESSION START: DBG_LEVEL:31 >>>>>>>>>>>>\r\n";

std::string RunService(const std::string& argument) { return RunBuiltService(argument).output; }

class ServiceManagerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::StartSocketLibrary());
    if (ServicePortInUse()) GTEST_SKIP() << "port 9199 is held by another program";
    // A run that was cut short may have left the service behind.
    RunService("-remove");
  }

  void TearDown() override {
    if (ServiceState() != 0 && ServiceState() != platform::kServiceStopped) {
      std::system("sc stop QolvTovuPP > nul");
      if (!WaitForServiceState(platform::kServiceStopped)) EndServiceProcess();
    }
    RunService("-remove");
    platform::StopSocketLibrary();
  }

  // Starts the installed service and waits for it to listen; a test goes on only when this
  // neither failed nor skipped.
  void StartAndWaitListening() {
    ASSERT_EQ(std::system("sc start QolvTovuPP > nul"), 0);
    ASSERT_TRUE(WaitForServiceState(platform::kServiceRunning));
    // Another program may take the port between the check in SetUp and the service's start.
    const int seen = log_.WaitForAny({kListeningLine, kStartFailedLine});
    ASSERT_NE(seen, -1) << log_.NewText();
    if (seen == 1) GTEST_SKIP() << "another program took port 9199 first";
  }

  // The same for a copy of the service installed from another folder.
  void InstallAndStart(const std::filesystem::path& executable) {
    log_ = LogWatch(executable);
    EXPECT_EQ(RunBuiltService("-install", executable).output, "QolvTovuPP is installed.\n");
    StartAndWaitListening();
  }

  // Ends the service process by the process id its session start line names.
  void EndServiceProcess() {
    std::smatch match;
    const std::string text = log_.NewText();
    if (!std::regex_search(text, match, std::regex(R"(\d{2}\.\d{3} (\d+) \d+ QolvPrinterProxy=== >>>>)")))
      return;
    std::system(("taskkill /F /PID " + match[1].str() + " > nul").c_str());
  }

  // The log of the executable the test installs; the built one unless the test installs a copy.
  LogWatch log_{BuiltService()};
};

TEST_F(ServiceManagerRun, InstallStartAnswerStopAndRemove) {
  EXPECT_EQ(RunService("-install"), "QolvTovuPP is installed.\n");
  EXPECT_EQ(RunService("/install"), "CreateService failed w/err 0x00000431\n");

  StartAndWaitListening();
  if (HasFatalFailure() || IsSkipped()) return;

  const ServiceAnswers answers = AskHeartbeatAndPrinterList();
  ASSERT_TRUE(answers.ok);
  ExpectSampleSdkAnswers(answers, log_.NewText());

  ASSERT_EQ(std::system("sc stop QolvTovuPP > nul"), 0);
  ASSERT_TRUE(WaitForServiceState(platform::kServiceStopped));
  const std::string text = log_.NewText();
  EXPECT_EQ(text.rfind("\r\n", 0), 0u) << text;
  EXPECT_EQ(
      FirstOutOfOrder(
          text, {kSessionStart,
                 "QolvPrinterProxy*** **************** QolvPrinterProxy Start, "
                 "Version=1.0.0.8191 *************\r\n",
                 "LoadLibrary QolvTovuWindowsSDK.dll success, path=" + BuiltSdk().string() + ",",
                 kListeningLine, LoggedSdkAnswer(answers.list.body), "TcpService OnShutdown, port=9199\r\n",
                 "QolvPrinterProxy=== <<<<<<<<<<<< SESSION FINISH: DBG_LEVEL:31 "
                 "<<<<<<<<<<<<\r\n\r\n"}),
      "")
      << text;

  EXPECT_EQ(RunService("-remove"), "QolvTovuPP is removed.\n");
  EXPECT_EQ(RunService("-remove"), "OpenService failed w/err 0x00000424\n");
}

// Installed in a folder whose name no ANSI code page holds (C:\收银系统\..., C:\Kassen-Überwachung):
// the SDK library beside it loads, its log appears there, it answers, and a crash inside the SDK
// leaves its dump there.
TEST_F(ServiceManagerRun, InAFolderOutsideTheAnsiCodePageItLoadsLogsAnswersAndDumps) {
  namespace fs = std::filesystem;
  const ScratchFolder folder;
  const fs::path executable = CopyServiceWithFakeSdk(folder);
  InstallAndStart(executable);
  if (HasFatalFailure() || IsSkipped()) return;

  const ServiceAnswers answers = AskHeartbeatAndPrinterList();
  ASSERT_TRUE(answers.ok) << log_.NewText();
  EXPECT_EQ(answers.list.body, "getLocalPrinterList|");  // the fake SDK's echo
  const std::string sdkPath = Utf8Of(folder.path() / platform::kSdkLibraryFileName);
  EXPECT_EQ(
      FirstOutOfOrder(log_.NewText(), {"LoadLibrary QolvTovuWindowsSDK.dll success, path=" + sdkPath + ",",
                                       kListeningLine, LoggedSdkAnswer(answers.list.body)}),
      "")
      << log_.NewText();

  FrameClient client(kServicePort);
  ASSERT_TRUE(
      client.Send(Frame(TPMT_REQUEST_API, "e2e-crash", R"({"action":"printer.list","param":"crash"})")));
  // The process ends once its dump is written, and the port is free again; Windows may have
  // restarted the service by then (a second session start), Wine's service manager does not
  // notice the end at all.
  bool ended = false;
  for (uint32_t waited = 0; !ended && waited < kServicePatienceMs; waited += 100) {
    platform::SleepMs(100);
    const std::string text = log_.NewText();
    ended = !ServicePortInUse() || text.find(kSessionStart) != text.rfind(kSessionStart);
  }
  ASSERT_TRUE(ended);
  size_t dumps = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("windev__") && name.ends_with(".dmp") && entry.file_size() > 0) ++dumps;
  }
  EXPECT_EQ(dumps, 1u);
  RunService("-remove");
}

// An SDK call that never returns cannot hold the stop: after its limit (20 s) the service names the
// call, leaves the SDK alone, finishes, reports stopped and its process ends.
TEST_F(ServiceManagerRun, AStopWaitsForAStuckSdkCallOnlyUpToItsLimit) {
  const ScratchFolder folder;
  const std::filesystem::path executable = CopyServiceWithFakeSdk(folder);
  InstallAndStart(executable);
  if (HasFatalFailure() || IsSkipped()) return;
  FrameClient client(kServicePort);
  ASSERT_TRUE(client.Send(StuckSdkCallFrames()));
  const std::vector<Answer> answers = client.Read(1);
  ASSERT_EQ(answers.size(), 1u) << log_.NewText();
  EXPECT_EQ(answers[0].body, "ok");

  // The stop hook returns only when the session has finished; Wine's sc gives up waiting for it
  // after 10 s (Windows' after 30 s) and reports a failure while the stop goes on.
  std::system("sc stop QolvTovuPP > nul");
  ASSERT_TRUE(WaitForServiceState(platform::kServiceStopped));
  EXPECT_EQ(
      FirstOutOfOrder(log_.NewText(), {kListeningLine,
                                       "QolvPrinterProxy@@@ TaskWorker did not stop within 20000 ms, SDK "
                                       "call in progress: method=addPrinterProxy; UninitQolvTovuSDK and the "
                                       "unload are skipped\r\n",
                                       "TcpService OnShutdown, port=9199\r\n",
                                       "QolvPrinterProxy=== <<<<<<<<<<<< SESSION FINISH: DBG_LEVEL:31 "
                                       "<<<<<<<<<<<<\r\n\r\n"}),
      "")
      << log_.NewText();
  // The process is gone, and with it the port.
  bool ended = false;
  for (uint32_t waited = 0; !ended && waited < kServicePatienceMs; waited += 100) {
    ended = !ServicePortInUse();
    if (!ended) platform::SleepMs(100);
  }
  EXPECT_TRUE(ended);
}

// Outside the service manager the service path cannot run: the dispatcher fails (after some
// seconds under Wine) and the program says so, with exit code 0 as everywhere.
TEST(ServiceFromAConsole, ReportsTheDispatcherFailureAndExitsZero) {
  const ProgramRun run = RunBuiltService("install");
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "Service failed to run w/err 0x00000427 or 1063 \n");
}

}  // namespace
}  // namespace qolv::testing

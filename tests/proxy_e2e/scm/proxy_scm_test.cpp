// The built service through the Windows service manager (Wine's, here): installed by its own
// switch, started with "sc start", answering on port 9199 with the sample SDK beside it, stopped
// with "sc stop" and removed. The service process is the service manager's child, so the test
// ends it by its id, read from its log, should it not stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "platform/service_control.h"
#include "platform/socket_io.h"
#include "proxy_e2e/common/proxy_process.h"
#include "scm_support/service_state.h"

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

  // Ends the service process by the process id its session start line names.
  void EndServiceProcess() {
    std::smatch match;
    const std::string text = log_.NewText();
    if (!std::regex_search(text, match, std::regex(R"(\d{2}\.\d{3} (\d+) \d+ QolvPrinterProxy=== >>>>)")))
      return;
    std::system(("taskkill /F /PID " + match[1].str() + " > nul").c_str());
  }

  const LogWatch log_{BuiltService()};
};

TEST_F(ServiceManagerRun, InstallStartAnswerStopAndRemove) {
  EXPECT_EQ(RunService("-install"), "QolvTovuPP is installed.\n");
  EXPECT_EQ(RunService("/install"), "CreateService failed w/err 0x00000431\n");

  ASSERT_EQ(std::system("sc start QolvTovuPP > nul"), 0);
  ASSERT_TRUE(WaitForServiceState(platform::kServiceRunning));
  // Another program may take the port between the check in SetUp and the service's start.
  const int seen = log_.WaitForAny({kListeningLine, kStartFailedLine});
  ASSERT_NE(seen, -1) << log_.NewText();
  if (seen == 1) GTEST_SKIP() << "another program took port 9199 first";

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

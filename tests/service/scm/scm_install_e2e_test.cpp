// Installing, starting, stopping and removing the test service through the Windows service
// control manager (Wine's, here). The service is started with "sc start", never from a console.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/service_control.h"
#include "platform/service_manager.h"
#include "support/service/scm/service_state.h"
#include "support/service/test_service_runner.h"

namespace qolv::test {
namespace {

TEST(ServiceManager, InstallStartStopAndRemove) {
  // A run that was cut short may have left the service behind.
  RunTestService("-remove");

  RunResult result = RunTestService("-install");
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_EQ(result.output, "QolvTovuPP is installed.\n");
  EXPECT_EQ(RunTestService("/install").output, "CreateService failed w/err 0x00000431\n");
  EXPECT_EQ(ServiceState(), platform::kServiceStopped);

  {
    // The installer's description and failure-action calls cannot be read back here; make the
    // same calls on the registered service and see them accepted.
    const platform::ServiceHandle manager = platform::OpenServiceManager(platform::kManagerConnect);
    const platform::ServiceHandle service = platform::OpenServiceEntry(
        manager, "QolvTovuPP", platform::kServiceAccessChangeConfig | platform::kServiceAccessStart);
    ASSERT_TRUE(service);
    EXPECT_TRUE(platform::SetServiceDescription(service, "该服务负责为LirraPOS系统提供业务支持。"));
    EXPECT_TRUE(platform::SetServiceRestartActions(service, 10, 3, 1000));
  }

  ASSERT_EQ(std::system("sc start QolvTovuPP > nul"), 0);
  ASSERT_TRUE(WaitForServiceState(platform::kServiceRunning));

  result = RunTestService("/remove");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output.rfind("Stopping QolvTovuPP.", 0), 0u) << result.output;
  EXPECT_NE(result.output.find("\nQolvTovuPP is stopped.\nQolvTovuPP is removed.\n"), std::string::npos)
      << result.output;

  EXPECT_EQ(RunTestService("-remove").output, "OpenService failed w/err 0x00000424\n");
}

TEST(ServiceManager, RunningFromAConsoleReportsTheDispatcherFailure) {
  // A first argument without a switch prefix runs the service path; outside the service manager
  // the dispatcher fails with 1063 (after some seconds).
  const RunResult result = RunTestService("install");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "Service failed to run w/err 0x00000427 or 1063 \n");
}

}  // namespace
}  // namespace qolv::test

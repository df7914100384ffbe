// Drives the framework's control handler in-process, with status reports and event-log entries
// caught by the platform's test hooks.
#include "service/service_base.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/service_control.h"
#include "service/service_error.h"
#include "support/seams/platform_seams.h"

namespace qolv {
namespace {

using platform::ServiceStatus;

struct Event {
  uint16_t type;
  std::vector<std::string> strings;
};

std::vector<ServiceStatus> g_statuses;
std::vector<Event> g_events;

void RecordStatus(const ServiceStatus& status) { g_statuses.push_back(status); }

void RecordEvent(const char*, uint16_t type, const char* const* strings, uint16_t count) {
  g_events.push_back(Event{type, std::vector<std::string>(strings, strings + count)});
}

class CProbeService : public CServiceBase {
 public:
  using CServiceBase::ControlHandler;
  using CServiceBase::LogErrorEvent;
  using CServiceBase::ReportStatus;

  std::function<void()> stopHook = [] {};
  int stopCalls = 0;
  int shutdownCalls = 0;

 protected:
  void OnServiceStop() override {
    ++stopCalls;
    stopHook();
  }
  void OnServiceShutdown() override { ++shutdownCalls; }
};

class ServiceBaseTest : public testing::Test {
 protected:
  void SetUp() override {
    g_statuses.clear();
    g_events.clear();
    platform::SetServiceStatusHook(&RecordStatus);
    platform::SetEventLogHook(&RecordEvent);
    CServiceBase::SetInstance(&service_);
    service_.ReportStatus(platform::kServiceRunning);
    g_statuses.clear();
  }
  void TearDown() override {
    CServiceBase::SetInstance(nullptr);
    platform::SetServiceStatusHook(nullptr);
    platform::SetEventLogHook(nullptr);
  }

  CProbeService service_;
};

TEST_F(ServiceBaseTest, StatusRecordAndCheckpointRules) {
  service_.ReportStatus(platform::kServiceStartPending);
  service_.ReportStatus(platform::kServiceStopPending, 7);
  service_.ReportStatus(platform::kServiceRunning);
  service_.ReportStatus(platform::kServiceStopPending);
  service_.ReportStatus(platform::kServiceStopped, 1073);
  ASSERT_EQ(g_statuses.size(), 5u);
  const uint32_t first = g_statuses[0].checkPoint;
  EXPECT_GE(first, 1u);
  EXPECT_EQ(g_statuses[1].checkPoint, first + 1);
  EXPECT_EQ(g_statuses[1].win32ExitCode, 7u);
  EXPECT_EQ(g_statuses[2].checkPoint, 0u);
  EXPECT_EQ(g_statuses[2].win32ExitCode, 0u);
  EXPECT_EQ(g_statuses[3].checkPoint, first + 2);  // the counter is shared, not reset by running
  EXPECT_EQ(g_statuses[4].checkPoint, 0u);
  EXPECT_EQ(g_statuses[4].win32ExitCode, 1073u);
  for (const ServiceStatus& status : g_statuses) {
    EXPECT_EQ(status.serviceType, 0x10u);
    EXPECT_EQ(status.controlsAccepted, 5u);
    EXPECT_EQ(status.serviceSpecificExitCode, 0u);
    EXPECT_EQ(status.waitHint, 0u);
  }
}

TEST_F(ServiceBaseTest, StopReportsStopPendingThenStopped) {
  CProbeService::ControlHandler(platform::kControlStop);
  EXPECT_EQ(service_.stopCalls, 1);
  ASSERT_EQ(g_statuses.size(), 2u);
  EXPECT_EQ(g_statuses[0].currentState, platform::kServiceStopPending);
  EXPECT_GE(g_statuses[0].checkPoint, 1u);
  EXPECT_EQ(g_statuses[1].currentState, platform::kServiceStopped);
  EXPECT_EQ(g_statuses[1].checkPoint, 0u);
  EXPECT_EQ(g_statuses[1].win32ExitCode, 0u);
  EXPECT_TRUE(g_events.empty());
}

TEST_F(ServiceBaseTest, FailedStopLogsAndReturnsToTheRememberedState) {
  struct Case {
    std::function<void()> hook;
    std::string message;
  };
  const Case cases[] = {
      {[] { throw CServiceError(5); }, "Service Stop failed w/err 0x00000005"},
      {[] { throw CServiceError(0x80004005u); }, "Service Stop failed w/err 0x80004005"},
      {[] { throw std::runtime_error("no code"); }, "Service failed to stop."},
  };
  for (const Case& c : cases) {
    g_statuses.clear();
    g_events.clear();
    service_.stopHook = c.hook;
    CProbeService::ControlHandler(platform::kControlStop);
    ASSERT_EQ(g_statuses.size(), 2u) << c.message;
    EXPECT_EQ(g_statuses[0].currentState, platform::kServiceStopPending);
    EXPECT_EQ(g_statuses[1].currentState, platform::kServiceRunning);
    EXPECT_EQ(g_statuses[1].checkPoint, 0u);
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].type, platform::kEventError);
    EXPECT_EQ(g_events[0].strings, (std::vector<std::string>{"QolvTovuPP", c.message}));
  }
}

TEST_F(ServiceBaseTest, InterrogateAndUnacceptedControlsSendNothing) {
  for (uint32_t control : {platform::kControlInterrogate, platform::kControlPause, platform::kControlContinue,
                           uint32_t{6}, uint32_t{200}}) {
    CProbeService::ControlHandler(control);
  }
  EXPECT_TRUE(g_statuses.empty());
  EXPECT_TRUE(g_events.empty());
  EXPECT_EQ(service_.stopCalls, 0);
}

TEST_F(ServiceBaseTest, ShutdownCallsItsHookAndReportsStoppedWithoutStopping) {
  CProbeService::ControlHandler(platform::kControlShutdown);
  EXPECT_EQ(service_.shutdownCalls, 1);
  EXPECT_EQ(service_.stopCalls, 0);
  ASSERT_EQ(g_statuses.size(), 1u);
  EXPECT_EQ(g_statuses[0].currentState, platform::kServiceStopped);
  EXPECT_EQ(g_statuses[0].checkPoint, 0u);
}

TEST_F(ServiceBaseTest, ErrorEventIsCutTo259CharactersWithoutSplittingOne) {
  service_.LogErrorEvent(std::string(300, 'a').c_str(), 1);
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";  // U+00E9, two bytes in UTF-8
  service_.LogErrorEvent(accented.c_str(), 1);
  ASSERT_EQ(g_events.size(), 2u);
  EXPECT_EQ(g_events[0].strings[1], std::string(259, 'a'));
  EXPECT_EQ(g_events[1].strings[1], accented.substr(0, 259 * 2));
}

}  // namespace
}  // namespace qolv

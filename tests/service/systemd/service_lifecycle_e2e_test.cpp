// The service framework run as a real process on Linux: its status reports seen through a
// notify socket the test opens, stop signals, and start failures.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "platform/service_notify_listener.h"
#include "support/service/systemd/shell.h"
#include "support/service/test_service_runner.h"

namespace qolv::test {
namespace {

constexpr uint32_t kReportTimeoutMs = 30000;

struct Report {
  uint32_t state = 0;
  uint32_t exitCode = 0;
  uint32_t checkPoint = 0;
  bool ready = false;
  bool stopping = false;
};

bool operator==(const Report& a, const Report& b) {
  return a.state == b.state && a.exitCode == b.exitCode && a.checkPoint == b.checkPoint &&
         a.ready == b.ready && a.stopping == b.stopping;
}

void PrintTo(const Report& r, std::ostream* out) {
  *out << "{state " << r.state << ", exit " << r.exitCode << ", checkpoint " << r.checkPoint
       << (r.ready ? ", READY" : "") << (r.stopping ? ", STOPPING" : "") << "}";
}

std::optional<Report> ParseReport(const std::string& message) {
  static const std::regex status(R"(STATUS=[a-z ]+ \((\d+)\), exit code (\d+), checkpoint (\d+)\n)");
  std::smatch match;
  if (!std::regex_search(message, match, status)) return std::nullopt;
  Report report;
  report.state = static_cast<uint32_t>(std::stoul(match[1]));
  report.exitCode = static_cast<uint32_t>(std::stoul(match[2]));
  report.checkPoint = static_cast<uint32_t>(std::stoul(match[3]));
  report.ready = message.find("READY=1\n") != std::string::npos;
  report.stopping = message.find("STOPPING=1\n") != std::string::npos;
  return report;
}

// The test service running in the background, reporting to a notify socket in its own folder.
// It runs in the foreground of a shell of its own, so SIGINT is not ignored as it would be for
// an asynchronous shell command.
class ServiceProcess {
 public:
  explicit ServiceProcess(const std::string& environment = "") {
    EXPECT_TRUE(listener_.Open((folder_.path() / "notify").string()));
    const std::string command = "NOTIFY_SOCKET=" + ShellQuote((folder_.path() / "notify").string()) +
                                " QOLV_TEST_PID_FILE=" + ShellQuote(PidFile().string()) +
                                " QOLV_TEST_EVENTS=" + ShellQuote(EventFile().string()) + " " + environment;
    runner_ = std::thread([this, command] { result_ = RunTestServiceWith(command, TestServicePath(), ""); });
  }
  ~ServiceProcess() {
    if (runner_.joinable()) runner_.join();
  }

  Report NextReport() {
    std::string message;
    if (!listener_.Receive(message, kReportTimeoutMs)) {
      ADD_FAILURE() << "no status report came";
      return {};
    }
    const std::optional<Report> report = ParseReport(message);
    EXPECT_TRUE(report.has_value()) << message;
    return report.value_or(Report{});
  }

  void Signal(const char* name) {
    const std::string pid = ReadText(PidFile());
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(RunShell("kill -" + std::string(name) + " " + pid), 0);
  }

  // Waits for the process to end (it is killed after two minutes at most).
  RunResult Finish() {
    runner_.join();
    return result_;
  }

  std::string Events() const { return ReadText(EventFile()); }

 private:
  std::filesystem::path PidFile() const { return folder_.path() / "pid"; }
  std::filesystem::path EventFile() const { return folder_.path() / "events"; }

  TempFolder folder_;
  platform::ServiceNotifyListener listener_;
  RunResult result_;
  std::thread runner_;
};

Report Expected(uint32_t state, uint32_t exitCode, uint32_t checkPoint) {
  return Report{state, exitCode, checkPoint, state == 4, state == 3 || state == 1};
}

class StopSignal : public testing::TestWithParam<const char*> {};

TEST_P(StopSignal, RunsTheStopProcedureAndEndsTheProcess) {
  ServiceProcess service;
  EXPECT_EQ(service.NextReport(), Expected(2, 0, 1));
  EXPECT_EQ(service.NextReport(), Expected(4, 0, 0));
  service.Signal(GetParam());
  EXPECT_EQ(service.NextReport(), Expected(3, 0, 2));
  EXPECT_EQ(service.NextReport(), Expected(3, 0, 3));  // sent by the stop hook, as the session does
  EXPECT_EQ(service.NextReport(), Expected(1, 0, 0));
  const RunResult result = service.Finish();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(service.Events(), "");
}

INSTANTIATE_TEST_SUITE_P(ServiceLifecycle, StopSignal, testing::Values("TERM", "INT"));

TEST(ServiceLifecycle, FailedStartLogsAnErrorAndStopsWithItsCode) {
  struct Case {
    const char* failure;
    uint32_t exitCode;
    const char* event;
  };
  for (const Case& c :
       {Case{"5", 5, "1|QolvTovuPP|Service Start failed w/err 0x00000005\n"},
        Case{"0x80070431", 0x80070431u, "1|QolvTovuPP|Service Start failed w/err 0x80070431\n"},
        Case{"other", 0, "1|QolvTovuPP|Service failed to start.\n"}}) {
    ServiceProcess service(std::string("QOLV_TEST_START_FAILURE=") + c.failure);
    EXPECT_EQ(service.NextReport(), Expected(2, 0, 1)) << c.failure;
    EXPECT_EQ(service.NextReport(), Expected(1, c.exitCode, 0)) << c.failure;
    EXPECT_EQ(service.Finish().exitCode, 0) << c.failure;
    EXPECT_EQ(service.Events(), c.event);
  }
}

}  // namespace
}  // namespace qolv::test

#include <cstdlib>
#include <regex>
#include <string>

#include "platform/service_control.h"
#include "platform/service_manager.h"
#include "platform/system_error.h"
#include "support/service/proxy_process.h"
#include "support/service/scm/service_state.h"
#include "service_under_test.h"

namespace qolv::chaos {
namespace {

constexpr char kServiceName[] = "QolvTovuPP";

// The process id the session's start line names: "date time pid tid QolvPrinterProxy=== >>>>".
uint32_t ProcessIdInLog(const std::string& log) {
  std::smatch match;
  if (!std::regex_search(log, match, std::regex(R"(\d{2}\.\d{3} (\d+) \d+ QolvPrinterProxy=== >>>>)")))
    return 0;
  return static_cast<uint32_t>(std::stoul(match[1].str()));
}

}  // namespace

struct ServiceUnderTest::Impl {
  testing::LogWatch log{testing::BuiltService()};
  bool installed = false;
  uint32_t processId = 0;
};

ServiceUnderTest::ServiceUnderTest() : impl_(std::make_unique<Impl>()) {}

ServiceUnderTest::~ServiceUnderTest() {
  if (!impl_->installed) return;
  const uint32_t state = test::ServiceState();
  if (state != 0 && state != platform::kServiceStopped) {
    std::system("sc stop QolvTovuPP > nul");
    if (!test::WaitForServiceState(platform::kServiceStopped) && impl_->processId != 0) {
      std::system(("taskkill /F /PID " + std::to_string(impl_->processId) + " > nul").c_str());
    }
  }
  testing::RunBuiltService("-remove");
}

ServiceUnderTest::Start ServiceUnderTest::Begin(std::string& problem) {
  testing::RunBuiltService("-remove");  // a run cut short may have left it registered
  const testing::ProgramRun install = testing::RunBuiltService("-install");
  if (install.output != "QolvTovuPP is installed.\n") {
    problem = "-install said: " + install.output;
    return Start::kFailed;
  }
  impl_->installed = true;
  if (std::system("sc start QolvTovuPP > nul") != 0 ||
      !test::WaitForServiceState(platform::kServiceRunning)) {
    problem = "the service manager did not start the service";
    return Start::kFailed;
  }
  const int seen = impl_->log.WaitForAny({testing::kListeningLine, testing::kStartFailedLine});
  impl_->processId = ProcessIdInLog(impl_->log.NewText());
  if (seen == 1) {
    problem = "port 9199 is held by another program";
    return Start::kPortTaken;
  }
  if (seen != 0 || impl_->processId == 0) {
    problem = "the service did not log that it listens, with its process id";
    return Start::kFailed;
  }
  return Start::kListening;
}

uint32_t ServiceUnderTest::ProcessId() const { return impl_->processId; }

bool ServiceUnderTest::Stop(std::string& problem) {
  const platform::ServiceHandle manager = platform::OpenServiceManager(platform::kManagerConnect);
  const platform::ServiceHandle service =
      platform::OpenServiceEntry(manager, kServiceName, platform::kServiceAccessStop);
  uint32_t state = 0;
  if (!service || !platform::StopService(service, state)) {
    problem = "the stop control was refused: " + std::to_string(platform::GetSystemError());
    return false;
  }
  if (!test::WaitForServiceState(platform::kServiceStopped)) {
    problem = "the service did not reach the stopped state";
    return false;
  }
  return true;
}

std::string ServiceUnderTest::LogText() const { return impl_->log.NewText(); }

}  // namespace qolv::chaos

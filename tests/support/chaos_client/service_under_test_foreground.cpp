#include <string>

#include "platform/process_spawn.h"
#include "support/service/proxy_process.h"
#include "service_under_test.h"

namespace qolv::chaos {

struct ServiceUnderTest::Impl {
  testing::LogWatch log{testing::BuiltService()};
  platform::ChildProcess child;  // killed and waited for by its destructor if it still runs
};

ServiceUnderTest::ServiceUnderTest() : impl_(std::make_unique<Impl>()) {}
ServiceUnderTest::~ServiceUnderTest() = default;

ServiceUnderTest::Start ServiceUnderTest::Begin(std::string& problem) {
  // Every log line also goes to standard error; the log file has them all, so the copy is dropped
  // instead of piling up in this process over a long run.
  if (!impl_->child.Start("/bin/sh", {"-c", "exec \"$0\" 2>/dev/null", testing::BuiltService().string()})) {
    problem = "the service could not be started: " + std::to_string(impl_->child.exit().Termination());
    return Start::kFailed;
  }
  switch (impl_->log.WaitForAny({testing::kListeningLine, testing::kStartFailedLine})) {
    case 0:
      return Start::kListening;
    case 1:
      problem = "port 9199 is held by another program";
      return Start::kPortTaken;
    default:
      problem = "the service did not log that it listens";
      return Start::kFailed;
  }
}

uint32_t ServiceUnderTest::ProcessId() const { return impl_->child.id(); }

bool ServiceUnderTest::Stop(std::string& problem) {
  if (!impl_->child.RequestStop() || !impl_->child.Wait(testing::kServicePatienceMs)) {
    problem = "the service did not end after SIGTERM";
    return false;
  }
  const platform::ChildExit& exit = impl_->child.exit();
  if (!exit.exited || exit.exitCode != 0) {
    problem = "the service ended with " + std::string(exit.exited ? "exit code " : "signal ") +
              std::to_string(exit.Termination());
    return false;
  }
  return true;
}

std::string ServiceUnderTest::LogText() const { return impl_->log.NewText(); }

}  // namespace qolv::chaos

#include "service/service_monitor.h"

#include <atomic>

#include "net/manual_reset_event.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/process_info.h"
#include "platform/system_error.h"
#include "platform/work_item.h"
#include "service/crash_guard.h"
#include "service/printer_proxy_session.h"
#include "service/service_error.h"

namespace qolv {

struct CServiceMonitor::SessionShared {
  explicit SessionShared(std::unique_ptr<ISessionSteps> sessionSteps) : steps(std::move(sessionSteps)) {}

  std::unique_ptr<ISessionSteps> steps;
  std::atomic<bool> queued{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> workLeftRunning{false};  // set before stopped
  net::CManualResetEvent started{false};     // the start steps are done
  net::CManualResetEvent stopped{false};     // the session has finished
};

CServiceMonitor::CServiceMonitor() : CServiceMonitor(std::make_unique<CPrinterProxySession>()) {}

CServiceMonitor::CServiceMonitor(std::unique_ptr<ISessionSteps> steps)
    : shared_(std::make_shared<SessionShared>(std::move(steps))) {}

CServiceMonitor::~CServiceMonitor() = default;

void CServiceMonitor::OnServiceStart(int, char**) {
  LogEvent("QolvTovuPP start", platform::kEventInformation);
  shared_->queued.store(true);
  const auto run = [](void* monitor) { static_cast<CServiceMonitor*>(monitor)->RunSession(); };
  if (!platform::QueueLongWorkItem(run, this)) {
    const uint32_t error = platform::GetSystemError();
    // A shutdown hook that saw the flag before it was cleared waits for this.
    shared_->started.Set();
    shared_->queued.store(false);
    throw CServiceError(error);
  }
}

bool CServiceMonitor::WorkLeftRunning() const { return shared_->workLeftRunning.load(); }

void CServiceMonitor::OnServiceStop() {
  LogEvent("QolvPrinterProxy stop", platform::kEventInformation);
  shared_->stopping.store(true);
  shared_->stopped.Wait(platform::kInfinite);
}

void CServiceMonitor::OnServiceShutdown() {
  if (shared_->queued.load()) shared_->started.Wait(platform::kInfinite);
}

void CServiceMonitor::RunSession() {
  // This object is alive here: main destroys it only after a stop or a shutdown, and both hooks
  // wait for this routine (for its end, or for its start steps). From here on the session reads
  // only what it co-owns; it uses this object once more only after a stop request, whose hook
  // keeps it alive until the stopped signal.
  const std::shared_ptr<SessionShared> shared = shared_;
  CrashGuard guard;
  guard.Install();
  if (!shared->steps->Start()) {
    // Ending without a stopped report, the service manager records a failure and applies its
    // restart policy. The start flag stays down; a shutdown hook waiting for it ends with the process.
    shared->steps->Stop([] {});
    platform::EndProcessNow(kFailedStartExitCode);
  }
  shared->started.Set();
  while (!shared->stopping.load()) platform::SleepMs(kStopPollMs);
  const bool clean = shared->steps->Stop([this] { ReportStatus(platform::kServiceStopPending); });
  ReportStatus(platform::kServiceStopPending);
  shared->workLeftRunning.store(!clean);
  shared->stopped.Set();
  // The guard ends last, on this thread, after the stop hook was released.
}

}  // namespace qolv

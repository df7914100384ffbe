#pragma once
#include <memory>

#include "service/service_base.h"
#include "service/session_steps.h"

namespace qolv {

// The printer proxy service. Its start hook runs the session routine on a long-running work item
// and returns at once; its stop hook tells the session to stop and waits until it has finished.
class CServiceMonitor : public CServiceBase {
 public:
  // The service with the printer proxy's session steps.
  CServiceMonitor();
  // A service running other session steps, for tests.
  explicit CServiceMonitor(std::unique_ptr<ISessionSteps> steps);
  ~CServiceMonitor() override;

  // The session routine: crash guard, the start steps, a poll of the stop request every 100 ms,
  // the stop steps (with a stop-pending report whenever they say they still wait), the last
  // stop-pending report, then the signal the stop hook waits for. Start steps that fail are
  // followed by the stop steps and the end of the process with kFailedStartExitCode, without a
  // stopped report, so the service manager counts a failure and applies its restart policy.
  void RunSession();

  // True when the stop steps left work running (an SDK call that did not return). The process's
  // ordinary end would then wait for it, or destroy what it uses, so main ends the process at
  // once after the dispatcher returned; the service manager has had its stopped report by then.
  bool WorkLeftRunning() const;

  static constexpr uint32_t kFailedStartExitCode = 1;

 protected:
  void OnServiceStart(int argc, char** argv) override;
  void OnServiceStop() override;
  // The process ends right after the shutdown report, while the session thread goes on polling.
  // Waits until the session's start steps are done, so that process exit never destroys the
  // objects they are still building.
  void OnServiceShutdown() override;

 private:
  struct SessionShared;

  static constexpr uint32_t kStopPollMs = 100;

  // Co-owned by the session thread: after a shutdown the process exits without stopping the
  // session, and this is all the thread keeps reading while this object is destroyed.
  std::shared_ptr<SessionShared> shared_;
};

}  // namespace qolv

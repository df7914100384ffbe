#pragma once
#include <cstdint>

#include "service/session_steps.h"

namespace qolv {

// The printer proxy's session: the log, the request handling with its SDK library, the TCP
// server on port 9199 and the task workers. It keeps no state of its own; everything it starts
// is a process-wide object that outlives it.
class CPrinterProxySession : public ISessionSteps {
 public:
  // How long a stop waits for the task workers, that is for the SDK calls in hand, to return.
  static constexpr uint32_t kWorkerStopLimitMs = 20000;

  // Opens the log with the session's first lines, loads the SDK, starts listening and, only if
  // that worked, starts the task workers. False (with a level-0 line) when fewer than four
  // workers could be started: a service that listens without them would answer nothing.
  bool Start() override;
  // Lets the task workers finish the task in hand and waits until they have left their loops (at
  // most kWorkerStopLimitMs), stops the server, releases and unloads the SDK, and writes the
  // finish line. When an SDK call is still running after that time, it says so in a level-0 line
  // naming the call's api, leaves the SDK alone (releasing or unloading it under a running call
  // is not safe) and returns false after the finish line.
  bool Stop(const StopProgress& stillStopping) override;
};

}  // namespace qolv

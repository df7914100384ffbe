#pragma once
#include "service/session_steps.h"

namespace qolv {

// The printer proxy's session: the log, the request handling with its SDK library, the TCP
// server on port 9199 and the task workers. It keeps no state of its own; everything it starts
// is a process-wide object that outlives it.
class CPrinterProxySession : public ISessionSteps {
 public:
  // Opens the log with the session's first lines, loads the SDK, starts listening and, only if
  // that worked, starts the task workers.
  void Start() override;
  // Lets the task workers finish the task in hand and waits until they have left their loops,
  // stops the server, releases and unloads the SDK, and writes the finish line.
  void Stop() override;
};

}  // namespace qolv

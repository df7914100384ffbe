#pragma once
#include <functional>

namespace qolv {

// What a service session brings up at its start and takes down at its end. The session routine
// runs Start, waits for the stop request, then runs Stop, all on its own thread.
class ISessionSteps {
 public:
  // Called by Stop about once a second while it waits, so that the service manager hears that
  // the stop goes on.
  using StopProgress = std::function<void()>;

  virtual ~ISessionSteps() = default;
  // False when the session cannot serve: the routine then runs Stop at once and ends the process
  // as a failed service.
  virtual bool Start() = 0;
  // False when work was left running that the process's ordinary end would wait for or pull the
  // ground from under: the service still reports stopped, and the process then ends at once.
  virtual bool Stop(const StopProgress& stillStopping) = 0;
};

}  // namespace qolv

#pragma once

namespace qolv {

// What a service session brings up at its start and takes down at its end. The session routine
// runs Start, waits for the stop request, then runs Stop, all on its own thread.
class ISessionSteps {
 public:
  virtual ~ISessionSteps() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

}  // namespace qolv

#pragma once
// The engine's process-wide set-up: the socket library started (on Linux the open-file limit
// raised to its hard limit, so MaxConnections sockets fit) and the system timer at its finest
// period, both undone when the object goes. An executable holds one as a static object, so it
// exists before main; test programs create one in a test environment.
#include <cstdint>

namespace qolv::net {

class CEngineProcessSetup {
 public:
  CEngineProcessSetup();
  ~CEngineProcessSetup();
  CEngineProcessSetup(const CEngineProcessSetup&) = delete;
  CEngineProcessSetup& operator=(const CEngineProcessSetup&) = delete;

  bool SocketsStarted() const { return socketsStarted_; }
  // The timer period set, or 0 when the system's range could not be read.
  uint32_t TimerPeriod() const { return timerPeriod_; }

 private:
  bool socketsStarted_;
  uint32_t timerPeriod_;
};

}  // namespace qolv::net

#include "net/engine_process_setup.h"

#include "platform/clock.h"
#include "platform/process_info.h"
#include "platform/socket_io.h"

namespace qolv::net {

CEngineProcessSetup::CEngineProcessSetup()
    : socketsStarted_(platform::StartSocketLibrary()), timerPeriod_(platform::BeginFinestTimerPeriod()) {
  // Read once here, so the first server's default worker count costs no system call.
  platform::ProcessorCount();
}

CEngineProcessSetup::~CEngineProcessSetup() {
  platform::EndTimerPeriod(timerPeriod_);
  if (socketsStarted_) platform::StopSocketLibrary();
}

}  // namespace qolv::net

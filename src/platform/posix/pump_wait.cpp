#include "platform/pump_wait.h"

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform {

// Linux threads have no message queue to serve, so a sleep keeps the same timing.
bool PumpWait(uint32_t milliseconds) {
  SleepMs(milliseconds);
  if (milliseconds != 0) SetSystemError(err::kTimeout);
  return true;
}

}  // namespace qolv::platform

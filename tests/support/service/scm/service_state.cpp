#include "support/service/scm/service_state.h"

#include "platform/clock.h"
#include "platform/service_control.h"
#include "platform/service_manager.h"

namespace qolv::test {
namespace {

constexpr int kStatePolls = 600;
constexpr uint32_t kStatePollMs = 100;

}  // namespace

uint32_t ServiceState() {
  const platform::ServiceHandle manager = platform::OpenServiceManager(platform::kManagerConnect);
  const platform::ServiceHandle service =
      platform::OpenServiceEntry(manager, "QolvTovuPP", platform::kServiceAccessQueryStatus);
  uint32_t state = 0;
  if (!service || !platform::QueryServiceState(service, state)) return 0;
  return state;
}

bool WaitForServiceState(uint32_t wanted) {
  for (int i = 0; i < kStatePolls; ++i) {
    if (ServiceState() == wanted) return true;
    platform::SleepMs(kStatePollMs);
  }
  return false;
}

}  // namespace qolv::test

#include "platform/clock.h"
#include "platform/clock_detail.h"

#include <sched.h>
#include <time.h>

#include <cerrno>

namespace qolv::platform {

LocalTime LocalNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  ::localtime_r(&ts.tv_sec, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,  local.tm_hour,
                   local.tm_min,         local.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}

uint32_t detail::SystemTickCount() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
    return;
  }
  timespec request{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

// Linux timers already have fine resolution; there is nothing to raise.
uint32_t BeginFinestTimerPeriod() { return 0; }
void EndTimerPeriod(uint32_t) {}

}  // namespace qolv::platform

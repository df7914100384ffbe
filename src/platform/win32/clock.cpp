#include <windows.h>
#include <mmsystem.h>

#include "platform/clock.h"
#include "platform/clock_detail.h"

namespace qolv::platform {

LocalTime LocalNow() {
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint32_t detail::SystemTickCount() { return ::timeGetTime(); }

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t BeginFinestTimerPeriod() {
  TIMECAPS caps{};
  if (::timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR) return 0;
  UINT period = caps.wPeriodMin;
  if (period > caps.wPeriodMax) period = caps.wPeriodMax;
  if (::timeBeginPeriod(period) != TIMERR_NOERROR) return 0;
  return period;
}

void EndTimerPeriod(uint32_t period) {
  if (period != 0) ::timeEndPeriod(period);
}

}  // namespace qolv::platform

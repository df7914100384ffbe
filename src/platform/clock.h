#pragma once
#include <cstdint>

namespace qolv::platform {

struct LocalTime {
  int year;
  int month;  // 1..12
  int day;    // 1..31
  int hour;
  int minute;
  int second;
  int millisecond;
};

// The local wall-clock time with milliseconds.
LocalTime LocalNow();

// Milliseconds of a monotonic clock, truncated to 32 bits; compare by wrap-around difference
// (timeGetTime on Windows).
uint32_t TickCount();

// Sleeps the calling thread; 0 only yields the processor.
void SleepMs(uint32_t milliseconds);

// The timeout of a wait that has no limit (INFINITE on Windows), for every wait given in milliseconds.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Raises the system timer to its finest period for the life of the process (Windows);
// returns the period set, or 0 when nothing was changed.
uint32_t BeginFinestTimerPeriod();
void EndTimerPeriod(uint32_t period);

}  // namespace qolv::platform

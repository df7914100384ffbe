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

// Replaces the tick count source, for tests of time-dependent rules; nullptr restores the system clock.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

// Sleeps the calling thread; 0 only yields the processor.
void SleepMs(uint32_t milliseconds);

// Raises the system timer to its finest period for the life of the process (Windows);
// returns the period set, or 0 when nothing was changed.
uint32_t BeginFinestTimerPeriod();
void EndTimerPeriod(uint32_t period);

}  // namespace qolv::platform

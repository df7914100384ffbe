#pragma once
#include <cstdint>

#include "platform/clock.h"

namespace qolv::platform {

// The offsets of one time zone over a span of years, worked out ahead of time, so that local time
// can be computed later without the system's zone conversion (which may allocate and lock, and so
// cannot run inside a signal handler).
class ZoneOffsetTable {
 public:
  // The zone's offset from UTC in seconds at a moment given in seconds since 1970 (UTC).
  using OffsetAt = int32_t (*)(int64_t unixSeconds);

  // Samples the zone once a day from `from` on for `days` days and finds every change to the
  // second. Zones change at most a few times a year, so a day between samples misses none.
  void Build(int64_t from, uint32_t days, OffsetAt offsetAt);

  int32_t OffsetFor(int64_t unixSeconds) const;
  LocalTime LocalAt(int64_t unixSeconds, int millisecond) const {
    return Civil(unixSeconds + OffsetFor(unixSeconds), millisecond);
  }

  // Breaks seconds since 1970 into a calendar date and a time of day, in the proleptic Gregorian
  // calendar and without any zone.
  static LocalTime Civil(int64_t seconds, int millisecond);

  int changeCount() const { return count_; }

 private:
  static constexpr int kMaxChanges = 64;
  struct Change {
    int64_t at;
    int32_t offset;
  };
  int32_t initial_ = 0;
  Change changes_[kMaxChanges] = {};
  int count_ = 0;
};

}  // namespace qolv::platform

#include "platform/zone_offset_table.h"

namespace qolv::platform {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Division that rounds toward minus infinity, so days before 1970 fall on the right date.
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

void ZoneOffsetTable::Build(int64_t from, uint32_t days, OffsetAt offsetAt) {
  initial_ = offsetAt(from);
  count_ = 0;
  int64_t before = from;
  int32_t current = initial_;
  for (uint32_t day = 1; day <= days && count_ < kMaxChanges; ++day) {
    const int64_t probe = from + static_cast<int64_t>(day) * kSecondsPerDay;
    const int32_t offset = offsetAt(probe);
    if (offset != current) {
      // The change lies in (before, probe]: halve the span until it is one second wide.
      int64_t low = before;
      int64_t high = probe;
      while (high - low > 1) {
        const int64_t middle = low + (high - low) / 2;
        if (offsetAt(middle) == current) {
          low = middle;
        } else {
          high = middle;
        }
      }
      changes_[count_++] = Change{high, offset};
      current = offset;
    }
    before = probe;
  }
}

int32_t ZoneOffsetTable::OffsetFor(int64_t unixSeconds) const {
  int32_t offset = initial_;
  for (int i = 0; i < count_ && unixSeconds >= changes_[i].at; ++i) offset = changes_[i].offset;
  return offset;
}

LocalTime ZoneOffsetTable::Civil(int64_t seconds, int millisecond) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t secondOfDay = seconds - days * kSecondsPerDay;
  // Count from 1 March of year 0, so the leap day is the last day of a counted year, in eras of
  // 400 years (146097 days) that repeat the calendar exactly.
  const int64_t shifted = days + 719468;
  const int64_t era = FloorDiv(shifted, 146097);
  const int64_t dayOfEra = shifted - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  const int month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return LocalTime{year,
                   month,
                   day,
                   static_cast<int>(secondOfDay / 3600),
                   static_cast<int>(secondOfDay / 60 % 60),
                   static_cast<int>(secondOfDay % 60),
                   millisecond};
}

}  // namespace qolv::platform

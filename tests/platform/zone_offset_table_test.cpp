#include "platform/zone_offset_table.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/crash_handler.h"

namespace qolv::platform {
namespace {

void ExpectDate(const LocalTime& t, int year, int month, int day, int hour, int minute, int second) {
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
  EXPECT_EQ(t.second, second);
}

TEST(ZoneOffsetTable, CivilDatesAcrossLeapDaysCenturiesAndTheEpoch) {
  ExpectDate(ZoneOffsetTable::Civil(0, 0), 1970, 1, 1, 0, 0, 0);
  ExpectDate(ZoneOffsetTable::Civil(-1, 0), 1969, 12, 31, 23, 59, 59);
  ExpectDate(ZoneOffsetTable::Civil(951782400, 0), 2000, 2, 29, 0, 0, 0);  // 2000 is a leap year
  ExpectDate(ZoneOffsetTable::Civil(4107542400, 0), 2100, 3, 1, 0, 0, 0);  // 2100 is not
  ExpectDate(ZoneOffsetTable::Civil(1709251199, 0), 2024, 2, 29, 23, 59, 59);
  ExpectDate(ZoneOffsetTable::Civil(1735689599, 0), 2024, 12, 31, 23, 59, 59);
  EXPECT_EQ(ZoneOffsetTable::Civil(0, 999).millisecond, 999);
}

// A zone one hour east of UTC that moves to two hours for a summer: its changes at fixed moments.
constexpr int64_t kSummerStart = 1711846800;  // 2024-03-31 01:00:00 UTC
constexpr int64_t kSummerEnd = 1729990800;    // 2024-10-27 01:00:00 UTC
int32_t SummerZone(int64_t t) { return t >= kSummerStart && t < kSummerEnd ? 7200 : 3600; }

TEST(ZoneOffsetTable, FindsEveryChangeToTheSecond) {
  ZoneOffsetTable zone;
  zone.Build(kSummerStart - 100 * 86400, 400, SummerZone);
  EXPECT_EQ(zone.changeCount(), 2);
  EXPECT_EQ(zone.OffsetFor(kSummerStart - 1), 3600);
  EXPECT_EQ(zone.OffsetFor(kSummerStart), 7200);
  EXPECT_EQ(zone.OffsetFor(kSummerEnd - 1), 7200);
  EXPECT_EQ(zone.OffsetFor(kSummerEnd), 3600);
  ExpectDate(zone.LocalAt(kSummerStart - 1, 0), 2024, 3, 31, 1, 59, 59);
  ExpectDate(zone.LocalAt(kSummerStart, 0), 2024, 3, 31, 3, 0, 0);
  ExpectDate(zone.LocalAt(kSummerEnd - 1, 0), 2024, 10, 27, 2, 59, 59);
  ExpectDate(zone.LocalAt(kSummerEnd, 0), 2024, 10, 27, 2, 0, 0);
  // Before the table's start the first offset holds; after its end the last one.
  EXPECT_EQ(zone.OffsetFor(0), 3600);
  EXPECT_EQ(zone.OffsetFor(kSummerEnd + 3650LL * 86400), 3600);
}

TEST(CrashSafeLocalNow, AgreesWithTheSystemsLocalTime) {
  // Read around the other clock: a second may tick between the two reads, but not two.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const LocalTime system = LocalNow();
    const LocalTime safe = CrashSafeLocalNow();
    if (system.second != safe.second) continue;
    EXPECT_EQ(safe.year, system.year);
    EXPECT_EQ(safe.month, system.month);
    EXPECT_EQ(safe.day, system.day);
    EXPECT_EQ(safe.hour, system.hour);
    EXPECT_EQ(safe.minute, system.minute);
    return;
  }
  ADD_FAILURE() << "the two clocks never agreed on the second";
}

}  // namespace
}  // namespace qolv::platform

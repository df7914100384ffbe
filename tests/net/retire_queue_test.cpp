#include "net/retire_queue.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_clock.h"

namespace qolv::net {
namespace {

using qolv::testing::FakeClock;

struct Item {
  uint32_t freeTime = 0;
  int destroyed = 0;
};

struct ItemTraits {
  static uint32_t FreeTime(const Item* item) { return item->freeTime; }
  static void Destroy(Item* item) { ++item->destroyed; }
};

using Queue = CRetireQueue<Item, ItemTraits>;

TEST(RetireQueue, EmptyReclaimLeavesEvenTheLastCheckAlone) {
  FakeClock clock(5000);
  Queue queue;
  queue.Reclaim(1000, false);
  // Had the empty pass recorded 5000 as its check, this pass one tick later would be skipped.
  Item item{1000};
  queue.Push(&item);
  clock.Set(5001);
  queue.Reclaim(1000, false);
  EXPECT_EQ(item.destroyed, 1);
  EXPECT_EQ(queue.Count(), 0);
}

TEST(RetireQueue, UnforcedPassesKeepTheirIntervalOfAThirdOfTheDelayClamped) {
  struct Case {
    uint32_t delay;
    uint32_t interval;
  };
  for (const Case c : {Case{30000, 10000}, Case{1000, 1000}, Case{60000, 15000}, Case{3500, 1166}}) {
    SCOPED_TRACE(c.delay);
    const uint32_t firstPass = 100000;
    FakeClock clock(firstPass);
    Queue queue;
    // One tick short of its rest at the first pass, long rested by the next one.
    Item item{firstPass - c.delay + 1};
    queue.Push(&item);
    queue.Reclaim(c.delay, false);
    EXPECT_EQ(item.destroyed, 0);
    clock.Set(firstPass + c.interval - 1);
    queue.Reclaim(c.delay, false);
    EXPECT_EQ(item.destroyed, 0);
    clock.Set(firstPass + c.interval);
    queue.Reclaim(c.delay, false);
    EXPECT_EQ(item.destroyed, 1);
  }
}

TEST(RetireQueue, ANewQueueReclaimsAtAWrappedLookingTickCount) {
  // 3000000000 - 0 is negative as a signed 32-bit difference; it must count as long ago.
  FakeClock clock(3000000000u);
  Queue queue;
  Item item{3000000000u - 30000};
  queue.Push(&item);
  queue.Reclaim(30000, false);
  EXPECT_EQ(item.destroyed, 1);
}

TEST(RetireQueue, PassStopsAtTheFirstObjectStillResting) {
  FakeClock clock(100000);
  Queue queue;
  Item rested{50000};
  Item resting{99000};
  Item restedBehind{40000};
  queue.Push(&rested);
  queue.Push(&resting);
  queue.Push(&restedBehind);
  queue.Reclaim(30000, false);
  EXPECT_EQ(rested.destroyed, 1);
  EXPECT_EQ(resting.destroyed, 0);
  EXPECT_EQ(restedBehind.destroyed, 0);
  EXPECT_EQ(queue.Count(), 2);
}

TEST(RetireQueue, RestIsMeasuredAcrossTheTickWrap) {
  FakeClock clock(5000);
  Queue queue;
  Item item{0xFFFFF000u};  // released 9096 ms ago, before the tick count wrapped
  queue.Push(&item);
  queue.Reclaim(9000, false);
  EXPECT_EQ(item.destroyed, 1);
}

TEST(RetireQueue, ForcedReclaimDestroysEverythingAtOnce) {
  FakeClock clock(1000);
  Queue queue;
  std::vector<Item> items(5, Item{1000});
  for (Item& item : items) queue.Push(&item);
  EXPECT_EQ(queue.Count(), 5);
  queue.Reclaim(30000, true);
  EXPECT_EQ(queue.Count(), 0);
  for (const Item& item : items) EXPECT_EQ(item.destroyed, 1);
  // The queue stays usable after being drained.
  Item late{1000};
  queue.Push(&late);
  queue.Reclaim(30000, true);
  EXPECT_EQ(late.destroyed, 1);
}

TEST(RetireQueue, DestructionLeavesTheObjectsToTheirOwner) {
  Item item;
  {
    Queue queue;
    queue.Push(&item);
  }
  EXPECT_EQ(item.destroyed, 0);
}

}  // namespace
}  // namespace qolv::net

#include "net/free_ring.h"

#include <gtest/gtest.h>

#include <set>

namespace qolv::net {
namespace {

struct Item {
  int value = 0;
};

TEST(FreeRing, WithoutSlotsRefusesEverything) {
  CFreeRing<Item> ring;
  Item a;
  Item* out = nullptr;
  uint32_t slot = 0;
  EXPECT_FALSE(ring.TryPush(&a));
  EXPECT_FALSE(ring.TryPop(out));
  EXPECT_FALSE(ring.TryClaim(out, slot));
  ring.Reset(2);
  ring.Reset(0);
  EXPECT_FALSE(ring.TryPush(&a));
}

TEST(FreeRing, PopsInPushOrderAndRefusesWhenFullOrEmpty) {
  CFreeRing<Item> ring;
  ring.Reset(4);
  Item items[5];
  Item* out = nullptr;
  EXPECT_FALSE(ring.TryPop(out));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(ring.TryPush(&items[i])) << i;
  EXPECT_FALSE(ring.TryPush(&items[4]));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(ring.TryPop(out));
    EXPECT_EQ(out, &items[i]);
  }
  EXPECT_FALSE(ring.TryPop(out));
  // The counters have moved on; the ring keeps working across the wrap of its slots.
  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(ring.TryPush(&items[round % 5]));
    ASSERT_TRUE(ring.TryPop(out));
    EXPECT_EQ(out, &items[round % 5]);
  }
}

TEST(FreeRing, RingOfOneAlternatesPushAndPop) {
  CFreeRing<Item> ring;
  ring.Reset(1);
  Item a;
  Item b;
  Item* out = nullptr;
  EXPECT_TRUE(ring.TryPush(&a));
  EXPECT_FALSE(ring.TryPush(&b));
  ASSERT_TRUE(ring.TryPop(out));
  EXPECT_EQ(out, &a);
  EXPECT_TRUE(ring.TryPush(&b));
  ASSERT_TRUE(ring.TryPop(out));
  EXPECT_EQ(out, &b);
  EXPECT_FALSE(ring.TryPop(out));
}

TEST(FreeRing, WrittenBackObjectComesRoundOneLapLater) {
  CFreeRing<Item> ring;
  ring.Reset(3);
  Item a;
  Item b;
  Item c;
  Item d;
  Item* out = nullptr;
  uint32_t slot = 99;
  ASSERT_TRUE(ring.TryPush(&a));
  ASSERT_TRUE(ring.TryClaim(out, slot));
  EXPECT_EQ(out, &a);
  EXPECT_EQ(slot, 0u);
  ring.WriteBack(slot, &a);
  // The get counter has passed the slot, so the object is not seen yet.
  EXPECT_FALSE(ring.TryPop(out));
  ASSERT_TRUE(ring.TryPush(&b));
  ASSERT_TRUE(ring.TryPush(&c));
  // The put counter steps over the occupied slot and finds the ring full.
  EXPECT_FALSE(ring.TryPush(&d));
  ASSERT_TRUE(ring.TryPop(out));
  EXPECT_EQ(out, &b);
  ASSERT_TRUE(ring.TryPop(out));
  EXPECT_EQ(out, &c);
  ASSERT_TRUE(ring.TryPop(out));
  EXPECT_EQ(out, &a);
  EXPECT_FALSE(ring.TryPop(out));
}

TEST(FreeRing, EmptiedClaimIsGoneAndOnlyAClaimedSlotCanBeFinished) {
  CFreeRing<Item> ring;
  ring.Reset(2);
  Item a;
  Item* out = nullptr;
  uint32_t slot = 0;
  ASSERT_TRUE(ring.TryPush(&a));
  ASSERT_TRUE(ring.TryClaim(out, slot));
  ring.EmptyClaimed(slot);
  EXPECT_THROW(ring.EmptyClaimed(slot), FatalError);
  EXPECT_THROW(ring.WriteBack(slot, &a), FatalError);
  EXPECT_THROW(ring.WriteBack(7, &a), FatalError);
  ASSERT_TRUE(ring.TryPush(&a));
  ASSERT_TRUE(ring.TryPop(out));
  EXPECT_FALSE(ring.TryPop(out));
}

TEST(FreeRing, DrainHandsOverEveryObjectIncludingWrittenBackOnes) {
  CFreeRing<Item> ring;
  ring.Reset(4);
  Item items[3];
  Item* out = nullptr;
  uint32_t slot = 0;
  for (Item& item : items) ASSERT_TRUE(ring.TryPush(&item));
  ASSERT_TRUE(ring.TryClaim(out, slot));
  ring.WriteBack(slot, out);
  std::set<Item*> drained;
  ring.Drain([&](Item* item) { EXPECT_TRUE(drained.insert(item).second); });
  EXPECT_EQ(drained, (std::set<Item*>{&items[0], &items[1], &items[2]}));
  EXPECT_EQ(ring.Size(), 0u);
  EXPECT_FALSE(ring.TryPush(&items[0]));
}

}  // namespace
}  // namespace qolv::net

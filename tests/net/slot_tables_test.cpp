#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "net/id_slot_table.h"
#include "net/index_slot_cache.h"

namespace qolv::net {
namespace {

struct Item {
  int value = 0;
};

using Table = CIdSlotTable<Item>;

std::vector<uint32_t> Sorted(std::vector<uint32_t> ids) {
  std::sort(ids.begin(), ids.end());
  return ids;
}

TEST(IdSlotTable, IssuesIdsBySlotAndGeneration) {
  Table table;
  table.Reset(3);
  Item items[4];
  uint32_t id = 0;
  for (uint32_t expected = 1; expected <= 3; ++expected) {
    ASSERT_TRUE(table.Reserve(&items[expected - 1], id));
    EXPECT_EQ(id, expected);
  }
  EXPECT_FALSE(table.Reserve(&items[3], id));
  EXPECT_EQ(Sorted(table.Snapshot(true)), (std::vector<uint32_t>{1, 2, 3}));

  Item* old = nullptr;
  uint32_t slot = 99;
  ASSERT_TRUE(table.Set(1, nullptr, &old, &slot));
  EXPECT_EQ(old, &items[0]);
  EXPECT_EQ(slot, 0u);
  EXPECT_EQ(table.Get(1), nullptr);
  ASSERT_TRUE(table.Reserve(&items[3], id));
  EXPECT_EQ(id, 4u);  // slot 0, generation 1
  EXPECT_EQ(table.Get(4), &items[3]);
  EXPECT_EQ(table.Get(1), nullptr);
  EXPECT_FALSE(table.Set(1, &items[0]));  // a retired id can change nothing
  EXPECT_EQ(Sorted(table.Snapshot(false)), (std::vector<uint32_t>{2, 3, 4}));
  EXPECT_EQ(table.KeyCount(), 3u);
}

TEST(IdSlotTable, AReservationCountsButIsNotLiveUntilAnObjectIsSet) {
  Table table;
  table.Reset(2);
  Item item;
  uint32_t id = 0;
  ASSERT_TRUE(table.Reserve(Table::Marker(), id));
  EXPECT_EQ(table.Count(), 1);
  EXPECT_EQ(table.KeyCount(), 0u);
  EXPECT_EQ(table.Get(id), nullptr);
  EXPECT_TRUE(table.Snapshot(true).empty());

  Item* old = nullptr;
  ASSERT_TRUE(table.Set(id, &item, &old));
  EXPECT_EQ(old, Table::Marker());
  EXPECT_EQ(table.Get(id), &item);
  EXPECT_EQ(table.Count(), 1);
  EXPECT_EQ(table.Snapshot(true), std::vector<uint32_t>{id});

  // Back to a reservation: no longer live, still counted; then released entirely.
  ASSERT_TRUE(table.Set(id, Table::Marker()));
  EXPECT_EQ(table.Get(id), nullptr);
  EXPECT_EQ(table.Count(), 1);
  EXPECT_EQ(table.KeyCount(), 0u);
  ASSERT_TRUE(table.Set(id, nullptr));
  EXPECT_EQ(table.Count(), 0);
}

TEST(IdSlotTable, SetRefusesNoChangesAndIdsThatNeverResolve) {
  Table table;
  Item item;
  uint32_t id = 0;
  EXPECT_FALSE(table.Reserve(&item, id));  // no slots yet
  EXPECT_EQ(table.Get(1), nullptr);
  table.Reset(2);
  EXPECT_FALSE(table.Set(1, nullptr));  // empty slot stays empty
  ASSERT_TRUE(table.Reserve(&item, id));
  EXPECT_FALSE(table.Set(id, &item));  // already holds it
  EXPECT_EQ(table.Count(), 1);
  EXPECT_EQ(table.KeyCount(), 1u);
  EXPECT_FALSE(table.Set(0, nullptr));
  EXPECT_EQ(table.Get(0), nullptr);
  EXPECT_EQ(table.Get(256 * 2 + 1), nullptr);
  EXPECT_FALSE(table.Set(256 * 2 + 1, nullptr));
  EXPECT_EQ(table.Get(id), &item);
}

TEST(IdSlotTable, OneSlotIssues256IdsThenStartsAgainAndResetRestartsAtOne) {
  Table table;
  table.Reset(1);
  Item item;
  uint32_t id = 0;
  for (uint32_t expected = 1; expected <= 256; ++expected) {
    ASSERT_TRUE(table.Reserve(&item, id));
    ASSERT_EQ(id, expected);
    ASSERT_TRUE(table.Set(id, nullptr));
  }
  ASSERT_TRUE(table.Reserve(&item, id));
  EXPECT_EQ(id, 1u);
  EXPECT_EQ(table.Get(1), &item);
  EXPECT_EQ(table.Get(257), nullptr);

  table.Reset(2);
  EXPECT_EQ(table.Count(), 0);
  EXPECT_TRUE(table.Snapshot(true).empty());
  ASSERT_TRUE(table.Reserve(&item, id));
  EXPECT_EQ(id, 1u);
}

TEST(IndexSlotCache, KeysRunFromOneToTheSize) {
  CIndexSlotCache<Item> cache;
  Item a;
  Item b;
  EXPECT_FALSE(cache.Set(1, &a));  // no slots yet
  cache.Reset(3);
  EXPECT_FALSE(cache.Set(0, &a));
  EXPECT_FALSE(cache.Set(4, &a));
  EXPECT_EQ(cache.Get(0), nullptr);
  EXPECT_EQ(cache.Get(4), nullptr);
  ASSERT_TRUE(cache.Set(3, &a));
  EXPECT_EQ(cache.Get(3), &a);

  // Replacing an object changes neither count nor key set.
  Item* old = nullptr;
  ASSERT_TRUE(cache.Set(3, &b, &old));
  EXPECT_EQ(old, &a);
  EXPECT_EQ(cache.Get(3), &b);
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(cache.Snapshot(true), std::vector<uint32_t>{3});

  ASSERT_TRUE(cache.Set(3, nullptr, &old));
  EXPECT_EQ(old, &b);
  EXPECT_FALSE(cache.Set(3, nullptr));
  EXPECT_EQ(cache.Get(3), nullptr);
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(cache.KeyCount(), 0u);

  cache.Set(1, &a);
  cache.Reset(0);
  EXPECT_EQ(cache.Get(1), nullptr);
  EXPECT_TRUE(cache.Snapshot(false).empty());
}

}  // namespace
}  // namespace qolv::net

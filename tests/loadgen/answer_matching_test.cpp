// How answers are paired with the frames in flight: the id written into each frame and the
// slot table that takes it back.
#include <gtest/gtest.h>

#include <cstring>

#include "inflight_slots.h"
#include "load_id.h"

namespace qolv::bench {
namespace {

TEST(LoadIdTest, RoundTripsAndRejectsForeignIds) {
  const LoadId id{0xA1B2C3D4u, 4095, 0x0123456789ABCDEFull};
  uint8_t bytes[32];
  EncodeLoadId(id, bytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 32), "a1b2c3d400000fff0123456789abcdef");
  LoadId back;
  ASSERT_TRUE(DecodeLoadId(bytes, back));
  EXPECT_EQ(back.connection, id.connection);
  EXPECT_EQ(back.slot, id.slot);
  EXPECT_EQ(back.sequence, id.sequence);

  bytes[31] = 0;  // an id of another client, ended by a zero byte
  EXPECT_FALSE(DecodeLoadId(bytes, back));
  bytes[31] = 'F';  // upper case is not what the generator writes
  EXPECT_FALSE(DecodeLoadId(bytes, back));
}

TEST(InflightSlotsTest, PairsEachAnswerWithItsFrameOnce) {
  InflightSlots slots(2);
  uint32_t first = 0;
  uint32_t second = 0;
  ASSERT_TRUE(slots.Take(10, 1000, false, first));
  ASSERT_TRUE(slots.Take(11, 2000, true, second));
  EXPECT_NE(first, second);
  uint32_t none = 0;
  EXPECT_FALSE(slots.Take(12, 3000, true, none));  // the pipeline is full
  EXPECT_EQ(slots.Busy(), 2u);

  InflightSlots::Entry entry;
  EXPECT_FALSE(slots.Complete(first, 11, entry));  // right slot, wrong frame
  EXPECT_FALSE(slots.Complete(7, 10, entry));      // no such slot
  ASSERT_TRUE(slots.Complete(second, 11, entry));  // answers may come in any order
  EXPECT_EQ(entry.sentNs, 2000);
  EXPECT_TRUE(entry.measured);
  EXPECT_FALSE(slots.Complete(second, 11, entry));  // a second answer to the same frame

  uint32_t reused = 0;
  ASSERT_TRUE(slots.Take(12, 4000, true, reused));
  EXPECT_EQ(reused, second);
  EXPECT_FALSE(slots.Complete(reused, 11, entry));  // the old frame's answer no longer fits
  ASSERT_TRUE(slots.Complete(first, 10, entry));
  EXPECT_FALSE(entry.measured);
  EXPECT_EQ(slots.Busy(), 1u);
}

}  // namespace
}  // namespace qolv::bench

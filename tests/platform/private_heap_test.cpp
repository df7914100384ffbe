#include "platform/private_heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace qolv::platform {
namespace {

struct Block {
  uint8_t* data;
  size_t size;
  uint8_t fill;
};

void ExpectFilled(const Block& block) {
  for (size_t i = 0; i < block.size; ++i) {
    if (block.data[i] != block.fill) {
      ADD_FAILURE() << "block of " << block.size << " bytes changed at " << i;
      return;
    }
  }
}

TEST(PrivateHeap, BlocksOfManySizesStayIntactAndAligned) {
  PrivateHeap heap = CreatePrivateHeap(0);
  ASSERT_NE(heap, nullptr);
  const size_t sizes[] = {0, 1, 15, 16, 17, 100, 128, 129, 4096 + 72, 5000, 65536, 70000, 1 << 20};
  std::vector<Block> blocks;
  for (int round = 0; round < 3; ++round) {
    for (size_t size : sizes) {
      auto* data = static_cast<uint8_t*>(AllocateFromHeap(heap, size));
      ASSERT_NE(data, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u) << size;
      const auto fill = static_cast<uint8_t>(blocks.size() + 1);
      std::memset(data, fill, size);
      blocks.push_back({data, size, fill});
    }
    // Free every other block, so later rounds reuse freed space between live blocks.
    for (size_t i = blocks.size(); i-- > 0;) {
      if (i % 2 == 0) {
        FreeToHeap(heap, blocks[i].data);
        blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  for (const Block& block : blocks) ExpectFilled(block);
  // Destroying the heap releases the blocks still allocated.
  DestroyPrivateHeap(heap);
}

TEST(PrivateHeap, ExhaustionThrowsBadAllocAndFreedSpaceServesAgain) {
  PrivateHeap heap = CreatePrivateHeap(256 * 1024);
  ASSERT_NE(heap, nullptr);
  std::vector<void*> blocks;
  bool exhausted = false;
  for (int i = 0; i < 10000 && !exhausted; ++i) {
    try {
      blocks.push_back(AllocateFromHeap(heap, 1000));
    } catch (const std::bad_alloc&) {
      exhausted = true;
    }
  }
  ASSERT_TRUE(exhausted);
  EXPECT_GT(blocks.size(), 100u);
  EXPECT_THROW(AllocateFromHeap(heap, 1 << 20), std::bad_alloc);
  FreeToHeap(heap, blocks.back());
  blocks.pop_back();
  EXPECT_NO_THROW(FreeToHeap(heap, AllocateFromHeap(heap, 1000)));
  DestroyPrivateHeap(heap);
}

}  // namespace
}  // namespace qolv::platform

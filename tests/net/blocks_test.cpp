#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "net/block_chain.h"
#include "net/block_pool.h"
#include "net/byte_block.h"
#include "net/io_block.h"

namespace qolv::net {
namespace {

std::vector<uint8_t> Bytes(int count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

TEST(ByteBlock, AppendsExtractsAndCopiesWithinItsCapacity) {
  CBlockPoolT<CByteBlock> pool;
  pool.Prepare(8, 4, 4);
  CByteBlock* block = pool.ObtainBlock();
  EXPECT_EQ(block->capacity, 8);
  const auto data = Bytes(10, 1);
  EXPECT_EQ(block->Append(data.data(), 10), 8);
  EXPECT_TRUE(block->IsFull());
  EXPECT_EQ(block->Append(data.data(), 1), 0);
  EXPECT_LE(block->Append(data.data(), -3), 0);

  uint8_t out[8] = {};
  EXPECT_EQ(block->CopyOut(out, 3), 3);
  EXPECT_EQ(block->Readable(), 8);
  EXPECT_EQ(block->Extract(out, 3), 3);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(block->Extract(out, 100), 5);
  EXPECT_EQ(out[4], 8);
  EXPECT_EQ(block->Readable(), 0);
  EXPECT_LE(block->Extract(out, -1), 0);

  // Offsets are capped at the capacity; a negative one leaves its pointer alone.
  block->Reset(2, 100);
  EXPECT_EQ(block->Readable(), 6);
  block->Reset(-1, 4);
  EXPECT_EQ(block->Readable(), 2);
  EXPECT_EQ(block->FreeSpace(), 4);
  pool.RecycleBlock(block);
}

TEST(BlockPool, ReusedBlocksComeBackEmptyAndPrepareGivesNewCapacity) {
  CBlockPoolT<CByteBlock> pool;
  pool.Prepare(16, 1, 1);
  CByteBlock* first = pool.ObtainBlock();
  const auto data = Bytes(5);
  first->Append(data.data(), 5);
  pool.RecycleBlock(first);
  CByteBlock* again = pool.ObtainBlock();
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->Readable(), 0);
  EXPECT_EQ(again->FreeSpace(), 16);
  // The ring holds one block; the second recycled block is freed instead.
  CByteBlock* other = pool.ObtainBlock();
  EXPECT_NE(other, again);
  pool.RecycleBlock(again);
  pool.RecycleBlock(other);

  pool.Clear();
  pool.Prepare(32, 0, 0);
  CByteBlock* fresh = pool.ObtainBlock();
  EXPECT_EQ(fresh->capacity, 32);
  EXPECT_EQ(pool.PoolSize(), 0);
  pool.RecycleBlock(fresh);  // no ring slots: freed at once
}

class ByteChainTest : public ::testing::Test {
 protected:
  void SetUp() override { pool_.Prepare(kCapacity, 8, 8); }

  static constexpr int kCapacity = 10;
  CBlockPoolT<CByteBlock> pool_;
  CByteBlockChain chain_{&pool_};
};

TEST_F(ByteChainTest, AppendTakesBlocksOnlyWhenTheLastOneIsFull) {
  const auto data = Bytes(25);
  EXPECT_EQ(chain_.Append(data.data(), 0), 0);
  EXPECT_EQ(chain_.Append(data.data(), -4), -4);
  EXPECT_EQ(chain_.Count(), 0);

  EXPECT_EQ(chain_.Append(data.data(), kCapacity), kCapacity);
  EXPECT_EQ(chain_.Count(), 1);
  EXPECT_EQ(chain_.Append(data.data(), 1), 1);
  EXPECT_EQ(chain_.Count(), 2);
  EXPECT_EQ(chain_.Append(data.data(), 14), 14);
  EXPECT_EQ(chain_.Count(), 3);
  EXPECT_EQ(chain_.First()->next->prev, chain_.First());
  EXPECT_EQ(chain_.Last()->next, nullptr);
  chain_.Recycle();
  EXPECT_EQ(chain_.Count(), 0);
}

TEST_F(ByteChainTest, ExtractAndCopyOutReadAcrossBlockBordersInOrder) {
  const auto data = Bytes(27, 100);
  chain_.Append(data.data(), 12);
  chain_.Append(data.data() + 12, 15);
  ASSERT_EQ(chain_.Count(), 3);

  std::vector<uint8_t> out(27);
  EXPECT_EQ(chain_.CopyOut(out.data(), 25), 25);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 25),
            std::vector<uint8_t>(data.begin(), data.begin() + 25));
  EXPECT_EQ(chain_.Count(), 3);

  // Extract drains the first block and the half of the second: one block goes back to the pool.
  EXPECT_EQ(chain_.Extract(out.data(), 15), 15);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 15),
            std::vector<uint8_t>(data.begin(), data.begin() + 15));
  EXPECT_EQ(chain_.Count(), 2);
  EXPECT_EQ(chain_.Extract(out.data(), 0), 0);

  // Asking for more than is held gives what is held and leaves the chain empty.
  EXPECT_EQ(chain_.Extract(out.data(), 100), 12);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 12),
            std::vector<uint8_t>(data.begin() + 15, data.end()));
  EXPECT_EQ(chain_.Count(), 0);
  EXPECT_EQ(chain_.First(), nullptr);
  EXPECT_EQ(chain_.Last(), nullptr);
  EXPECT_EQ(chain_.CopyOut(out.data(), 5), 0);
}

TEST_F(ByteChainTest, FreeAllEmptiesTheChainWithoutTouchingThePoolRing) {
  const auto data = Bytes(30);
  chain_.Append(data.data(), 30);
  chain_.FreeAll();
  EXPECT_EQ(chain_.Count(), 0);
  chain_.Append(data.data(), 5);
  EXPECT_EQ(chain_.Count(), 1);
  chain_.Recycle();
}

TEST(IoBlock, RecordAddressIsTheBlockAndChainsFillTheBufferRecord) {
  CBlockPoolT<CIoBlock> pool;
  pool.Prepare(88, 4, 4);
  CIoBlock* block = pool.ObtainBlock();
  EXPECT_EQ(CIoBlock::FromOverlapped(&block->overlapped), block);
  EXPECT_EQ(block->bufferPointer, block->Data());
  EXPECT_EQ(block->capacity, 88);

  CIoBlockChain chain(&pool);
  const auto data = Bytes(100);
  EXPECT_EQ(chain.Append(data.data(), 100), 100);
  ASSERT_EQ(chain.Count(), 2);
  EXPECT_EQ(chain.First()->bufferLength, 88u);
  EXPECT_EQ(chain.Last()->bufferLength, 12u);
  EXPECT_EQ(chain.Last()->bufferPointer[11], 99);

  // An engine operation leaves its marks; a reused block starts clean.
  CIoBlock* used = chain.PopFront();
  used->overlapped = platform::Overlapped{};
  reinterpret_cast<uint8_t*>(&used->overlapped)[0] = 0xAB;
  used->bufferPointer += 4;
  pool.RecycleBlock(used);
  pool.RecycleBlock(block);
  CIoBlock* reused = pool.ObtainBlock();
  ASSERT_EQ(reused, used);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&reused->overlapped)[0], 0);
  EXPECT_EQ(reused->bufferLength, 0u);
  EXPECT_EQ(reused->bufferPointer, reused->Data());
  pool.RecycleBlock(reused);
  chain.Recycle();
}

}  // namespace
}  // namespace qolv::net

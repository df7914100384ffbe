#include "net/pull_buffer_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <numeric>
#include <vector>

#include "fake_clock.h"
#include "net/fatal_error.h"
#include "net/server_properties.h"
#include "support/net/engine_seams.h"

namespace qolv::net {
namespace {

using qolv::testing::FakeClock;

class PullBufferStoreTest : public ::testing::Test {
 protected:
  PullBufferStoreTest() : clock_(100000), properties_(state_) {}

  void Prepare(uint32_t maxConnections, int32_t poolSize, int32_t bufferSize = 4096) {
    properties_.SetMaxConnections(maxConnections);
    properties_.SetConnectionPoolSize(poolSize);
    properties_.SetBufferSize(bufferSize);
    store_.Prepare(properties_);
  }

  FakeClock clock_;
  std::atomic<ServerState> state_{ServerState::Stopped};
  CServerProperties properties_;
  CPullBufferStore store_;
};

TEST_F(PullBufferStoreTest, TakesItsSizesFromTheProperties) {
  properties_.SetBlockPoolSize(7);
  properties_.SetBlockPoolHold(9);
  properties_.SetReuseDelay(4000);
  properties_.SetConnectionPoolHold(11);
  Prepare(50, 5, 200);
  EXPECT_EQ(store_.MaxConnections(), 50u);
  EXPECT_EQ(store_.PoolSize(), 5);
  EXPECT_EQ(store_.Hold(), 11);
  EXPECT_EQ(store_.ReuseDelay(), 4000u);
  EXPECT_EQ(store_.BlockPool().Capacity(), 200);
  EXPECT_EQ(store_.BlockPool().PoolSize(), 7);
  EXPECT_EQ(store_.BlockPool().Hold(), 9);
}

TEST_F(PullBufferStoreTest, BuffersHoldBytesInOrderAcrossBlocks) {
  Prepare(10, 4, 88);
  CPullBuffer* buffer = store_.ObtainBuffer(1);
  std::vector<uint8_t> data(200);
  std::iota(data.begin(), data.end(), 0);
  buffer->Append(data.data(), 30);
  buffer->Append(data.data() + 30, 170);
  buffer->Append(data.data(), -5);  // nothing, and the length does not shrink
  EXPECT_EQ(buffer->length, 200);
  EXPECT_EQ(buffer->chain.Count(), 3);

  std::vector<uint8_t> peeked(100);
  std::vector<uint8_t> fetched(100);
  EXPECT_EQ(buffer->CopyOut(peeked.data(), 100), 100);
  EXPECT_EQ(buffer->length, 200);
  EXPECT_EQ(buffer->Extract(fetched.data(), 100), 100);
  EXPECT_EQ(peeked, fetched);
  EXPECT_EQ(buffer->length, 100);
  EXPECT_EQ(buffer->Extract(fetched.data(), 100), 100);
  EXPECT_EQ(fetched, std::vector<uint8_t>(data.begin() + 100, data.end()));
  EXPECT_EQ(buffer->length, 0);
  EXPECT_EQ(buffer->chain.Count(), 0);
}

TEST_F(PullBufferStoreTest, FindsOnlyTheLiveBufferOfTheVeryId) {
  Prepare(2, 4);
  EXPECT_EQ(store_.FindBuffer(1), nullptr);
  CPullBuffer* first = store_.ObtainBuffer(1);
  CPullBuffer* second = store_.ObtainBuffer(2);
  EXPECT_EQ(store_.FindBuffer(1), first);
  EXPECT_EQ(store_.FindBuffer(2), second);
  EXPECT_EQ(store_.FindBuffer(0), nullptr);

  store_.RecycleBuffer(first);
  EXPECT_EQ(store_.FindBuffer(1), nullptr);
  // Id 3 takes the slot of id 1 in the next generation; the old id must not reach its bytes.
  CPullBuffer* third = store_.ObtainBuffer(3);
  EXPECT_EQ(store_.FindBuffer(3), third);
  EXPECT_EQ(store_.FindBuffer(1), nullptr);
  EXPECT_EQ(store_.FindBuffer(5), nullptr);
}

TEST_F(PullBufferStoreTest, ARecentlyReleasedBufferRestsBeforeReuse) {
  Prepare(10, 1);
  CPullBuffer* first = store_.ObtainBuffer(1);
  const uint8_t bytes[3] = {1, 2, 3};
  first->Append(bytes, 3);
  store_.RecycleBuffer(first);
  EXPECT_EQ(first->connectionId.load(), 0u);
  EXPECT_EQ(first->length, 0);
  EXPECT_EQ(first->chain.Count(), 0);

  clock_.Advance(29999);
  CPullBuffer* second = store_.ObtainBuffer(2);
  EXPECT_NE(second, first);
  // The ring's one slot still holds the resting buffer, so this one goes to the retire queue.
  store_.RecycleBuffer(second);
  EXPECT_EQ(store_.RetiredCount(), 1);

  clock_.Advance(1);
  CPullBuffer* third = store_.ObtainBuffer(3);
  EXPECT_EQ(third, first);
  EXPECT_EQ(third->connectionId.load(), 3u);
  EXPECT_EQ(third->length, 0);
  EXPECT_EQ(store_.FindBuffer(3), third);
}

TEST_F(PullBufferStoreTest, ASecondReleaseDoesNothing) {
  Prepare(10, 4);
  CPullBuffer* buffer = store_.ObtainBuffer(1);
  CPullBuffer* other = store_.ObtainBuffer(2);
  store_.RecycleBuffer(buffer);
  store_.RecycleBuffer(buffer);
  EXPECT_EQ(store_.RetiredCount(), 0);
  EXPECT_EQ(store_.FindBuffer(2), other);

  // Had the buffer been queued twice, it would now be handed out twice.
  clock_.Advance(30000);
  CPullBuffer* reused = store_.ObtainBuffer(3);
  CPullBuffer* next = store_.ObtainBuffer(4);
  EXPECT_EQ(reused, buffer);
  EXPECT_NE(next, buffer);
}

TEST_F(PullBufferStoreTest, WithoutRingSlotsReleasedBuffersRetireAndObtainCreates) {
  Prepare(10, 0);
  CPullBuffer* first = store_.ObtainBuffer(1);
  store_.RecycleBuffer(first);
  EXPECT_EQ(store_.RetiredCount(), 1);
  clock_.Advance(60000);
  CPullBuffer* second = store_.ObtainBuffer(2);
  EXPECT_NE(second, first);
  // The next release reclaims the long-rested one before queuing itself.
  store_.RecycleBuffer(second);
  EXPECT_EQ(store_.RetiredCount(), 1);
}

TEST_F(PullBufferStoreTest, ClearLeavesAStoreThatBehavesLikeANewOne) {
  Prepare(10, 1, 100);
  std::vector<uint8_t> data(150, 7);
  store_.ObtainBuffer(1)->Append(data.data(), 150);
  CPullBuffer* released = store_.ObtainBuffer(2);
  store_.RecycleBuffer(released);
  store_.RecycleBuffer(store_.ObtainBuffer(3));  // ring full: retired
  ASSERT_EQ(store_.RetiredCount(), 1);

  store_.Clear();
  EXPECT_EQ(store_.RetiredCount(), 0);
  EXPECT_EQ(store_.FindBuffer(1), nullptr);

  Prepare(10, 1, 200);
  EXPECT_EQ(store_.FindBuffer(1), nullptr);
  CPullBuffer* buffer = store_.ObtainBuffer(1);
  EXPECT_EQ(store_.FindBuffer(1), buffer);
  buffer->Append(data.data(), 150);
  ASSERT_EQ(buffer->chain.Count(), 1);
  EXPECT_EQ(buffer->chain.First()->capacity, 200);
}

// A destructor that started a new heap, as Clear does, would end the process where the system has
// none left to give.
TEST_F(PullBufferStoreTest, DestroyingAStoreStartsNoHeap) {
  Prepare(10, 1, 100);
  auto doomed = std::make_unique<CPullBufferStore>();
  doomed->Prepare(properties_);
  std::vector<uint8_t> data(150, 7);
  doomed->ObtainBuffer(1)->Append(data.data(), 150);
  doomed->RecycleBuffer(doomed->ObtainBuffer(2));
  doomed->RecycleBuffer(doomed->ObtainBuffer(3));  // ring full: retired

  testing::EngineSeams seams;
  seams.RefuseHeapResets();
  EXPECT_THROW(store_.Clear(), FatalError);
  doomed.reset();
}

}  // namespace
}  // namespace qolv::net

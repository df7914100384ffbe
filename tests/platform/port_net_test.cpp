#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "support/platform/net_fixture.h"

namespace qolv::platform::testing {
namespace {

using PortTest = NetFixture;

TEST_F(PortTest, PostedPacketCarriesBytesAndKeyButNoRecord) {
  ASSERT_TRUE(port_.Post(0xFFFFFFF1u, 0x1234));
  ASSERT_TRUE(port_.Post(0, 0));
  Completion first = Next();
  Completion second = Next();
  if (first.bytes == 0) std::swap(first, second);
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.bytes, 0xFFFFFFF1u);
  EXPECT_EQ(first.key, 0x1234u);
  EXPECT_EQ(first.overlapped, nullptr);
  EXPECT_EQ(first.error, 0u);
  EXPECT_TRUE(second.ok);
  EXPECT_EQ(second.bytes, 0u);
  EXPECT_EQ(second.overlapped, nullptr);
  EXPECT_TRUE(Quiet());
}

TEST_F(PortTest, WaitWithNothingQueuedTimesOutWith258) {
  Completion completion;
  EXPECT_FALSE(port_.Wait(completion, 0));
  EXPECT_EQ(GetSystemError(), err::kWaitTimeout);
  EXPECT_FALSE(port_.Wait(completion, 30));
  EXPECT_EQ(GetSystemError(), err::kWaitTimeout);
}

TEST_F(PortTest, PostWakesAThreadAlreadyWaiting) {
  Completion completion;
  std::thread waiter([&] { port_.Wait(completion, kPatience); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(port_.Post(7, 8));
  waiter.join();
  EXPECT_EQ(completion.bytes, 7u);
  EXPECT_EQ(completion.key, 8u);
}

// Several threads wait on one port while packets are posted and receives complete; every
// completion reaches exactly one thread.
TEST_F(PortTest, ManyWaitingThreadsEachGetDistinctCompletions) {
  Listen();
  constexpr int kConnections = 8;
  constexpr uint32_t kPosts = 2000;
  constexpr int kThreads = 4;
  std::vector<Pair> pairs;
  for (int i = 0; i < kConnections; ++i) pairs.push_back(Connected());
  char buffers[kConnections][8];
  IoRecord receives[kConnections];
  for (int i = 0; i < kConnections; ++i) {
    ASSERT_EQ(StartReceive(pairs[i].server, buffers[i], sizeof buffers[i], &receives[i].overlapped), 0u);
  }

  const uint32_t expected = kPosts + kConnections;
  std::atomic<uint32_t> taken{0};
  std::mutex mutex;
  std::vector<uintptr_t> postedKeys;
  std::vector<const Overlapped*> records;
  std::vector<std::thread> threads;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      while (taken.load() < expected && std::chrono::steady_clock::now() < deadline) {
        Completion completion;
        if (!port_.Wait(completion, 50)) continue;
        taken.fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex);
        if (completion.overlapped == nullptr) {
          postedKeys.push_back(completion.key);
        } else {
          records.push_back(completion.overlapped);
        }
      }
    });
  }
  for (uint32_t i = 0; i < kPosts; ++i) {
    ASSERT_TRUE(port_.Post(1, i + 1));
    if (i % 250 == 0) {
      const int c = static_cast<int>(i / 250);
      ASSERT_EQ(SendBlocking(pairs[c].client, "x", 1, kPatience), 0u);
    }
  }
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(taken.load(), expected);
  ASSERT_EQ(postedKeys.size(), kPosts);
  std::sort(postedKeys.begin(), postedKeys.end());
  for (uint32_t i = 0; i < kPosts; ++i) ASSERT_EQ(postedKeys[i], i + 1) << "a packet was lost or duplicated";
  ASSERT_EQ(records.size(), static_cast<size_t>(kConnections));
  std::sort(records.begin(), records.end());
  EXPECT_TRUE(std::adjacent_find(records.begin(), records.end()) == records.end());
  EXPECT_TRUE(Quiet());
}

}  // namespace
}  // namespace qolv::platform::testing

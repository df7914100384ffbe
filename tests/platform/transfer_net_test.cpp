#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/platform/net_fixture.h"

namespace qolv::platform::testing {
namespace {

using TransferTest = NetFixture;

// ReceiveNow, retried while nothing is waiting yet (at most kPatience ms).
uint32_t ReceiveWhenThere(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received) {
  uint32_t result = err::kWsaWouldBlock;
  for (uint32_t waited = 0; waited < kPatience && result == err::kWsaWouldBlock; waited += 10) {
    result = ReceiveNow(socket, buffer, length, received);
    if (result == err::kWsaWouldBlock) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return result;
}

TEST_F(TransferTest, PendingReceiveCompletesOnceWhenDataArrives) {
  Listen();
  const Pair pair = Connected();
  char buffer[16] = {};
  IoRecord record;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &record.overlapped), 0u) << GetSystemError();
  EXPECT_TRUE(Quiet()) << "a receive completed without data";
  ASSERT_EQ(SendBlocking(pair.client, "hello", 5, kPatience), 0u);
  const Completion done = Next();
  EXPECT_TRUE(done.ok);
  EXPECT_EQ(done.key, kConnectionKey);
  EXPECT_EQ(done.overlapped, &record.overlapped);
  EXPECT_EQ(done.bytes, 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  uint32_t bytes = 0;
  EXPECT_EQ(OverlappedResult(pair.server, &record.overlapped, &bytes), 0u);
  EXPECT_EQ(bytes, 5u);
  EXPECT_TRUE(Quiet());
}

TEST_F(TransferTest, ReceiveOfWaitingDataStillCompletesThroughThePort) {
  Listen();
  const Pair pair = Connected();
  ASSERT_EQ(SendBlocking(pair.client, "ready", 5, kPatience), 0u);
  // Give the bytes time to reach the server side, so the receive finds them waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  char buffer[16] = {};
  IoRecord record;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &record.overlapped), 0u);
  const Completion done = Next();
  EXPECT_TRUE(done.ok);
  EXPECT_EQ(done.overlapped, &record.overlapped);
  EXPECT_EQ(done.bytes, 5u);
  EXPECT_EQ(std::string(buffer, 5), "ready");
  EXPECT_TRUE(Quiet());
}

// The peer's last bytes and its end arrive before any receive is posted and their readiness is
// taken by a wait: the receive that reads the bytes stops short of the end, and the next one must
// still find the end instead of waiting for a readiness event that will not come again.
TEST_F(TransferTest, BytesAndThePeersEndThatArriveTogetherAreBothReceived) {
  Listen();
  const Pair pair = Connected();
  ASSERT_EQ(SendBlocking(pair.client, "last", 4, kPatience), 0u);
  ASSERT_EQ(ShutdownSocket(pair.client, 1), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(Quiet()) << "a completion without an operation";
  char buffer[16] = {};
  IoRecord first;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &first.overlapped), 0u);
  const Completion bytes = Next();
  EXPECT_EQ(bytes.overlapped, &first.overlapped);
  EXPECT_EQ(bytes.bytes, 4u);
  IoRecord second;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &second.overlapped), 0u);
  const Completion end = Next();
  EXPECT_EQ(end.overlapped, &second.overlapped);
  EXPECT_TRUE(end.ok);
  EXPECT_EQ(end.bytes, 0u);
}

TEST_F(TransferTest, ReceiveNowReportsWouldBlockDataAndClose) {
  Listen();
  const Pair pair = Connected();
  char buffer[16];
  uint32_t received = 99;
  EXPECT_EQ(ReceiveNow(pair.server, buffer, sizeof buffer, &received), err::kWsaWouldBlock);
  EXPECT_EQ(GetSystemError(), err::kWsaWouldBlock);

  ASSERT_EQ(SendBlocking(pair.client, "abc", 3, kPatience), 0u);
  ASSERT_EQ(ReceiveWhenThere(pair.server, buffer, sizeof buffer, &received), 0u);
  EXPECT_EQ(received, 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");

  Close(pair.client);
  EXPECT_EQ(ReceiveWhenThere(pair.server, buffer, sizeof buffer, &received), 0u);
  EXPECT_EQ(received, 0u) << "a read after the peer's close gives 0 bytes";
}

TEST_F(TransferTest, SendThatFinishesAtOnceStillQueuesOneCompletion) {
  Listen();
  const Pair pair = Connected();
  IoRecord record;
  ASSERT_EQ(StartSend(pair.server, "pong", 4, &record.overlapped), 0u) << GetSystemError();
  const Completion done = Next();
  EXPECT_TRUE(done.ok);
  EXPECT_EQ(done.key, kConnectionKey);
  EXPECT_EQ(done.overlapped, &record.overlapped);
  EXPECT_EQ(done.bytes, 4u);
  EXPECT_TRUE(Quiet());
  char buffer[8] = {};
  uint32_t received = 0;
  ASSERT_EQ(ReceiveBlocking(pair.client, buffer, sizeof buffer, &received, kPatience), 0u);
  EXPECT_EQ(std::string(buffer, received), "pong");
}

// A send far larger than the socket buffers goes out in many pieces but completes once, with
// every byte delivered in order.
TEST_F(TransferTest, LargeSendCompletesOnceWithAllBytes) {
  Listen();
  const Pair pair = Connected();
  constexpr uint32_t kSize = 8u << 20;
  std::vector<char> data(kSize);
  for (uint32_t i = 0; i < kSize; ++i) data[i] = static_cast<char>((i * 7919u) >> 5);

  std::vector<char> arrived;
  arrived.reserve(kSize);
  std::thread reader([&] {
    std::vector<char> buffer(1 << 16);
    // Bounded: every read waits at most kPatience and the loop ends at the size or an error.
    while (arrived.size() < kSize) {
      uint32_t received = 0;
      if (ReceiveBlocking(pair.client, buffer.data(), static_cast<uint32_t>(buffer.size()), &received,
                          kPatience) != 0 ||
          received == 0) {
        break;
      }
      arrived.insert(arrived.end(), buffer.begin(), buffer.begin() + received);
    }
  });

  IoRecord record;
  const uint32_t started = StartSend(pair.server, data.data(), kSize, &record.overlapped);
  EXPECT_TRUE(started == 0 || started == err::kIoPending) << started;
  const Completion done = Next();
  reader.join();
  EXPECT_TRUE(done.ok) << done.error;
  EXPECT_EQ(done.overlapped, &record.overlapped);
  EXPECT_EQ(done.bytes, kSize);
  ASSERT_EQ(arrived.size(), kSize);
  EXPECT_TRUE(std::memcmp(arrived.data(), data.data(), kSize) == 0);
  EXPECT_TRUE(Quiet());
}

}  // namespace
}  // namespace qolv::platform::testing

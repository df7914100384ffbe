#include "platform/readiness_poller.h"

#include <chrono>
#include <set>
#include <string>

#include "support/platform/net_fixture.h"

namespace qolv::platform::testing {
namespace {

constexpr uint32_t kClientKey = 0xC1;
constexpr uint32_t kOtherKey = 0xC2;
constexpr uint32_t kThirdKey = 0xC3;

class PollerTest : public NetFixture {
 protected:
  void SetUp() override {
    NetFixture::SetUp();
    ASSERT_TRUE(poller_.Open()) << GetSystemError();
  }

  // The next event of the socket watched under key; a failed test when none comes in time.
  ReadinessEvent EventFor(uint32_t key) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatience);
    ReadinessEvent events[8];
    while (std::chrono::steady_clock::now() < deadline) {
      uint32_t count = 0;
      EXPECT_EQ(poller_.Wait(100, events, 8, &count), 0u);
      for (uint32_t i = 0; i < count; ++i) {
        if (events[i].key == key) return events[i];
      }
    }
    ADD_FAILURE() << "no event for key " << key << " within " << kPatience << " ms";
    return ReadinessEvent{};
  }

  // True when no watched socket turns ready for a while.
  bool PollerQuiet() {
    ReadinessEvent event;
    uint32_t count = 99;
    return poller_.Wait(kQuietMs, &event, 1, &count) == 0 && count == 0;
  }

  // Accepts the connection waiting in the backlog; the server side stays out of the port, so the
  // blocking helpers may drive it.
  SocketHandle AcceptPeer() {
    IoRecord record;
    EXPECT_EQ(BeginAccept(record), 0u) << GetSystemError();
    const Completion done = Next();
    EXPECT_TRUE(done.ok) << done.error;
    const SocketHandle peer = Own(record.accepted);
    EXPECT_EQ(UpdateAcceptContext(peer, listener_), 0u);
    return peer;
  }

  ReadinessPoller poller_;
};

TEST_F(PollerTest, ConnectDataAndCloseAreReportedUntilConsumed) {
  Listen();
  const SocketHandle client = Own(CreateStreamSocket(kFamilyInet));
  const uint32_t started = BeginConnect(client, listenAddress_);
  ASSERT_TRUE(started == 0 || started == err::kWsaWouldBlock) << started;
  ASSERT_EQ(poller_.Watch(client, kClientKey, kWatchWritable), 0u) << GetSystemError();
  const SocketHandle peer = AcceptPeer();
  const ReadinessEvent connected = EventFor(kClientKey);
  EXPECT_TRUE(connected.writable);
  EXPECT_FALSE(connected.readable);
  EXPECT_FALSE(connected.failed);
  EXPECT_EQ(ConnectOutcome(client), 0u);

  // Watching for reads only: a writable socket with nothing to read stays quiet.
  ASSERT_EQ(poller_.Change(client, kClientKey, kWatchReadable), 0u) << GetSystemError();
  EXPECT_TRUE(PollerQuiet()) << "the socket is still reported after writes stopped being watched";

  ASSERT_EQ(SendBlocking(peer, "ping", 4, kPatience), 0u);
  EXPECT_TRUE(EventFor(kClientKey).readable);
  EXPECT_TRUE(EventFor(kClientKey).readable) << "unread data must be reported again";
  char buffer[16] = {};
  uint32_t received = 0;
  ASSERT_EQ(ReceiveNow(client, buffer, sizeof buffer, &received), 0u);
  EXPECT_EQ(std::string(buffer, received), "ping");
  EXPECT_TRUE(PollerQuiet()) << "a drained socket is still reported readable";

  Close(peer);
  const ReadinessEvent closed = EventFor(kClientKey);
  EXPECT_TRUE(closed.readable || closed.failed);
  EXPECT_EQ(ReceiveNow(client, buffer, sizeof buffer, &received), 0u);
  EXPECT_EQ(received, 0u) << "the peer's close reads as 0 bytes";
}

TEST_F(PollerTest, RefusedConnectIsReportedAndReadAsRefused) {
  // A bound socket that does not listen keeps the port taken and refuses every connect.
  const SocketHandle closedPort = Own(CreateStreamSocket(kFamilyInet));
  SockAddr address{};
  ASSERT_EQ(TextToAddress("127.0.0.1", kFamilyInet, address), 0u);
  ASSERT_EQ(BindSocket(closedPort, address), 0u);
  ASSERT_EQ(LocalAddress(closedPort, address), 0u);

  const SocketHandle client = Own(CreateStreamSocket(kFamilyInet));
  const uint32_t started = BeginConnect(client, address);
  if (started == err::kWsaConnectionRefused) return;  // refused before the call returned
  ASSERT_EQ(started, err::kWsaWouldBlock);
  ASSERT_EQ(poller_.Watch(client, kClientKey, kWatchWritable), 0u);
  const ReadinessEvent done = EventFor(kClientKey);
  EXPECT_TRUE(done.writable || done.failed);
  EXPECT_EQ(ConnectOutcome(client), err::kWsaConnectionRefused);
}

TEST_F(PollerTest, WatchesAreKeptApartAndForgetEndsThem) {
  Listen();
  const SocketHandle first = Connect();
  const SocketHandle second = Connect();
  ASSERT_EQ(poller_.Watch(first, kClientKey, kWatchWritable), 0u);
  ASSERT_EQ(poller_.Watch(second, kOtherKey, kWatchWritable | kWatchReadable), 0u);
  EXPECT_EQ(poller_.Watch(second, kThirdKey, kWatchWritable), err::kAlreadyExists);
  EXPECT_TRUE(EventFor(kClientKey).writable);
  EXPECT_TRUE(EventFor(kOtherKey).writable);

  ASSERT_EQ(poller_.Forget(first), 0u);
  ReadinessEvent events[4];
  for (int round = 0; round < 3; ++round) {
    uint32_t count = 0;
    ASSERT_EQ(poller_.Wait(kPatience, events, 4, &count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(events[0].key, kOtherKey) << "a forgotten socket is still reported";
  }
  ASSERT_EQ(poller_.Forget(second), 0u);
  EXPECT_TRUE(PollerQuiet());

  EXPECT_EQ(poller_.Forget(first), err::kObjectNotFound);
  EXPECT_EQ(poller_.Change(first, kClientKey, kWatchReadable), err::kObjectNotFound);
  EXPECT_EQ(poller_.Watch(first, kClientKey, 0), err::kInvalidParameter);
  // A watch may start again after a forget, under a new key.
  ASSERT_EQ(poller_.Watch(first, kThirdKey, kWatchWritable), 0u);
  EXPECT_TRUE(EventFor(kThirdKey).writable);
  ASSERT_EQ(poller_.Forget(first), 0u);

  Close(second);
  EXPECT_EQ(poller_.Watch(second, kOtherKey, kWatchReadable), err::kWsaNotSocket);
}

TEST_F(PollerTest, SmallBatchesTakeTurnsSoNoSocketIsStarved) {
  Listen();
  const uint32_t keys[] = {kClientKey, kOtherKey, kThirdKey};
  for (uint32_t key : keys) ASSERT_EQ(poller_.Watch(Connect(), key, kWatchWritable), 0u);
  // Every socket stays writable; waits taking one event each must still visit all of them.
  std::set<uint32_t> seen;
  for (int round = 0; round < 3; ++round) {
    ReadinessEvent event;
    uint32_t count = 0;
    ASSERT_EQ(poller_.Wait(kPatience, &event, 1, &count), 0u);
    ASSERT_EQ(count, 1u);
    seen.insert(event.key);
  }
  EXPECT_EQ(seen, std::set<uint32_t>(std::begin(keys), std::end(keys)));
}

}  // namespace
}  // namespace qolv::platform::testing

#include <vector>

#include "support/platform/net_fixture.h"

namespace qolv::platform::testing {
namespace {

using CloseTest = NetFixture;

TEST_F(CloseTest, PeerCloseCompletesPendingAndLaterReceivesWithZeroBytes) {
  Listen();
  const Pair pair = Connected();
  char buffer[16];
  IoRecord pending;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &pending.overlapped), 0u);
  Close(pair.client);
  Completion done = Next();
  EXPECT_TRUE(done.ok) << done.error;
  EXPECT_EQ(done.overlapped, &pending.overlapped);
  EXPECT_EQ(done.bytes, 0u);

  IoRecord later;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &later.overlapped), 0u);
  done = Next();
  EXPECT_TRUE(done.ok) << done.error;
  EXPECT_EQ(done.overlapped, &later.overlapped);
  EXPECT_EQ(done.bytes, 0u);
  EXPECT_TRUE(Quiet());
}

TEST_F(CloseTest, ResetPeerFailsThePendingReceiveWithConnectionReset) {
  Listen();
  const Pair pair = Connected();
  char buffer[16];
  IoRecord record;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &record.overlapped), 0u);
  ASSERT_EQ(SetLingerAbort(pair.client), 0u);
  Close(pair.client);
  const Completion done = Next();
  EXPECT_FALSE(done.ok);
  EXPECT_EQ(done.overlapped, &record.overlapped);
  uint32_t bytes = 99;
  EXPECT_EQ(OverlappedResult(pair.server, &record.overlapped, &bytes), err::kWsaConnectionReset);
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(Quiet());
}

// Fills the path to a client that never reads until a send has to wait.
uint32_t StartStuckSend(SocketHandle server, std::vector<char>& data, IoRecord& record) {
  data.assign(32u << 20, 'x');
  return StartSend(server, data.data(), static_cast<uint32_t>(data.size()), &record.overlapped);
}

TEST_F(CloseTest, ClosingTheListenerAbortsItsPendingAccept) {
  Listen();
  IoRecord accept;
  ASSERT_EQ(BeginAccept(accept), 0u);
  Close(listener_);
  Completion done = Next();
  EXPECT_FALSE(done.ok);
  EXPECT_EQ(done.error, err::kOperationAborted);
  EXPECT_EQ(done.overlapped, &accept.overlapped);
  EXPECT_EQ(done.key, kListenKey);
  EXPECT_TRUE(Quiet());
}

TEST_F(CloseTest, ClosingAConnectionAbortsItsReceiveAndItsStuckSend) {
  Listen();
  const Pair pair = Connected();
  char buffer[16];
  IoRecord receive;
  IoRecord send;
  std::vector<char> data;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &receive.overlapped), 0u);
  ASSERT_EQ(StartStuckSend(pair.server, data, send), err::kIoPending);
  EXPECT_TRUE(Quiet()) << "the send completed although the client reads nothing";

  Close(pair.server);
  bool receiveSeen = false;
  bool sendSeen = false;
  for (int i = 0; i < 2; ++i) {
    const Completion done = Next();
    EXPECT_FALSE(done.ok);
    EXPECT_EQ(done.error, err::kOperationAborted);
    EXPECT_EQ(done.key, kConnectionKey);
    if (done.overlapped == &receive.overlapped) {
      EXPECT_FALSE(receiveSeen);
      receiveSeen = true;
    } else {
      EXPECT_EQ(done.overlapped, &send.overlapped);
      EXPECT_FALSE(sendSeen);
      sendSeen = true;
      EXPECT_LT(done.bytes, data.size());
    }
  }
  EXPECT_TRUE(receiveSeen && sendSeen);
  EXPECT_TRUE(Quiet());
}

TEST_F(CloseTest, CancelAbortsOperationsButKeepsTheSocketUsable) {
  Listen();
  const Pair pair = Connected();
  char buffer[16];
  IoRecord cancelled;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &cancelled.overlapped), 0u);
  CancelSocketIo(pair.server);
  Completion done = Next();
  EXPECT_FALSE(done.ok);
  EXPECT_EQ(done.error, err::kOperationAborted);
  EXPECT_EQ(done.overlapped, &cancelled.overlapped);

  IoRecord next;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &next.overlapped), 0u);
  ASSERT_EQ(SendBlocking(pair.client, "ok", 2, kPatience), 0u);
  done = Next();
  EXPECT_TRUE(done.ok);
  EXPECT_EQ(done.overlapped, &next.overlapped);
  EXPECT_EQ(done.bytes, 2u);
}

// A handle stays dead after its close, even when a new socket comes to carry the same number.
TEST_F(CloseTest, ClosedHandleIsRefusedAndCannotReachALaterSocket) {
  Listen();
  const Pair first = Connected();
  const SocketHandle closed = first.server;
  Close(closed);
  const Pair second = Connected();
  ASSERT_EQ(SendBlocking(second.client, "mine", 4, kPatience), 0u);

  char buffer[8];
  uint32_t received = 0;
  IoRecord record;
  if (second.server != closed) {
    EXPECT_EQ(ReceiveNow(closed, buffer, sizeof buffer, &received), err::kWsaNotSocket);
    EXPECT_EQ(StartReceive(closed, buffer, sizeof buffer, &record.overlapped), err::kWsaNotSocket);
    EXPECT_EQ(StartSend(closed, "x", 1, &record.overlapped), err::kWsaNotSocket);
  }
  // The later socket still has its bytes.
  ASSERT_EQ(StartReceive(second.server, buffer, sizeof buffer, &record.overlapped), 0u);
  const Completion done = Next();
  EXPECT_TRUE(done.ok);
  EXPECT_EQ(done.bytes, 4u);
}

// Closing the port first must not break the sockets that still belonged to it.
TEST_F(CloseTest, SocketOutlivingItsPortClosesCleanly) {
  Listen();
  const Pair pair = Connected();
  char buffer[16];
  IoRecord record;
  ASSERT_EQ(StartReceive(pair.server, buffer, sizeof buffer, &record.overlapped), 0u);
  port_.Close();
  ASSERT_EQ(SendBlocking(pair.client, "late", 4, kPatience), 0u);
  Close(pair.server);
  uint32_t received = 0;
  EXPECT_EQ(ReceiveNow(pair.server, buffer, sizeof buffer, &received), err::kWsaNotSocket);
}

}  // namespace
}  // namespace qolv::platform::testing

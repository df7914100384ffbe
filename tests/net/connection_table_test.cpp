#include "net/connection_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fake_clock.h"
#include "net/fatal_error.h"
#include "net/server_properties.h"

namespace qolv::net {
namespace {

using qolv::testing::FakeClock;

class ConnectionTableTest : public ::testing::Test {
 protected:
  ConnectionTableTest() : clock_(50000), properties_(state_), table_(ioBlocks_) {}

  ~ConnectionTableTest() override {
    for (uint32_t id : table_.Snapshot()) Close(table_.Find(id));
  }

  void Reset(uint32_t maxConnections, int32_t poolSize = 600) {
    properties_.SetMaxConnections(maxConnections);
    properties_.SetConnectionPoolSize(poolSize);
    ioBlocks_.Prepare(properties_.GetBufferSize(), 16, 16);
    table_.Reset(properties_);
  }

  // The accept path: reserve, obtain, prepare.
  TcpConnection* Accept(platform::SocketHandle socket = 42) {
    uint32_t id = 0;
    if (!table_.Reserve(id)) return nullptr;
    TcpConnection* connection = table_.Obtain(id, socket);
    platform::SockAddr remote{};
    remote.bytes[0] = 2;
    table_.Prepare(*connection, remote);
    return connection;
  }

  // The close path: invalidate, then release.
  void Close(TcpConnection* connection) {
    if (connection->Invalidate()) table_.Release(*connection);
  }

  FakeClock clock_;
  std::atomic<ServerState> state_{ServerState::Stopped};
  CServerProperties properties_;
  CBlockPoolT<CIoBlock> ioBlocks_;
  ConnectionTable table_;
};

TEST_F(ConnectionTableTest, IssuesIdsUntilFullAndNextGenerationAfterAClose) {
  Reset(2);
  TcpConnection* first = Accept();
  TcpConnection* second = Accept();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->connectionId.load(), 1u);
  EXPECT_EQ(second->connectionId.load(), 2u);
  uint32_t id = 0;
  EXPECT_FALSE(table_.Reserve(id));
  EXPECT_EQ(table_.Count(), 2u);

  Close(first);
  EXPECT_EQ(table_.Find(1), nullptr);
  TcpConnection* third = Accept();
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->connectionId.load(), 3u);
  EXPECT_EQ(table_.Find(3), third);
  EXPECT_EQ(table_.Find(0), nullptr);
  EXPECT_EQ(table_.Find(256 * 2 + 1), nullptr);
}

TEST_F(ConnectionTableTest, OneSlotCyclesThrough256IdsAndEveryRunStartsAtOne) {
  Reset(1);
  for (uint32_t expected = 1; expected <= 256; ++expected) {
    TcpConnection* connection = Accept();
    ASSERT_NE(connection, nullptr);
    ASSERT_EQ(connection->connectionId.load(), expected);
    Close(connection);
  }
  TcpConnection* wrapped = Accept();
  ASSERT_NE(wrapped, nullptr);
  EXPECT_EQ(wrapped->connectionId.load(), 1u);
  Close(wrapped);

  // A stop and a new start.
  table_.ReleaseSlots();
  table_.DestroyRested();
  table_.ResetArena();
  Reset(3);
  TcpConnection* first = Accept();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->connectionId.load(), 1u);
}

TEST_F(ConnectionTableTest, AReservedIdIsNotLiveUntilPrepared) {
  Reset(4);
  uint32_t id = 0;
  ASSERT_TRUE(table_.Reserve(id));
  TcpConnection* connection = table_.Obtain(id, 7);
  EXPECT_EQ(table_.Find(id), nullptr);
  EXPECT_EQ(table_.Count(), 0u);
  EXPECT_EQ(table_.Occupied(), 1);
  EXPECT_FALSE(connection->connected.load());
  EXPECT_TRUE(connection->valid.load());

  clock_.Set(60000);
  platform::SockAddr remote{};
  remote.bytes[0] = 23;
  remote.bytes[27] = 0x5A;
  table_.Prepare(*connection, remote);
  EXPECT_EQ(table_.FindValid(id), connection);
  EXPECT_TRUE(connection->connected.load());
  EXPECT_EQ(connection->time.load(), 60000u);
  EXPECT_EQ(connection->lastReceive.load(), 60000u);
  EXPECT_EQ(connection->remoteAddress.bytes[27], 0x5A);
  EXPECT_EQ(connection->socket.load(), 7u);
  EXPECT_EQ(table_.Snapshot(), std::vector<uint32_t>{id});
  // Preparing again finds no reservation in the slot.
  EXPECT_THROW(table_.Prepare(*connection, remote), FatalError);
}

TEST_F(ConnectionTableTest, ClosingConnectionStaysFindableButNotValid) {
  Reset(4);
  TcpConnection* connection = Accept();
  ASSERT_NE(connection, nullptr);
  const uint32_t id = connection->connectionId.load();
  ASSERT_TRUE(connection->Invalidate());
  EXPECT_FALSE(connection->connected.load());
  EXPECT_EQ(table_.Find(id), connection);
  EXPECT_EQ(table_.FindValid(id), nullptr);
  EXPECT_FALSE(connection->Invalidate());
  table_.Release(*connection);
  EXPECT_EQ(table_.Find(id), nullptr);
  EXPECT_EQ(table_.Count(), 0u);
  EXPECT_EQ(table_.Occupied(), 0);
}

TEST_F(ConnectionTableTest, ExactlyOneOfTwoClosingThreadsWins) {
  Reset(4);
  for (int round = 0; round < 50; ++round) {
    TcpConnection* connection = Accept();
    ASSERT_NE(connection, nullptr);
    std::atomic<int> winners{0};
    std::atomic<bool> go{false};
    auto closer = [&] {
      while (!go.load()) std::this_thread::yield();
      if (connection->Invalidate()) ++winners;
    };
    std::thread a(closer);
    std::thread b(closer);
    go = true;
    a.join();
    b.join();
    ASSERT_EQ(winners.load(), 1);
    table_.Release(*connection);
  }
}

TEST_F(ConnectionTableTest, ReleasedObjectRestsBeforeItServesAgainAndComesBackReset) {
  Reset(4, 1);
  TcpConnection* first = Accept(10);
  ASSERT_NE(first, nullptr);
  int marker = 0;
  first->extra = &marker;
  first->reserved = &marker;
  first->paused = true;
  first->pendingBytes = 5;
  const uint8_t bytes[100] = {};
  first->sendChain.Append(bytes, 100);
  Close(first);
  EXPECT_EQ(first->sendChain.Count(), 0);
  EXPECT_EQ(first->time.load(), 50000u);

  clock_.Advance(29999);
  TcpConnection* second = Accept(11);
  EXPECT_NE(second, first);
  Close(second);  // the ring slot is still taken: this one is retired

  clock_.Advance(1);
  TcpConnection* third = Accept(12);
  ASSERT_EQ(third, first);
  EXPECT_EQ(third->extra.load(), nullptr);
  EXPECT_EQ(third->reserved, nullptr);
  EXPECT_FALSE(third->paused.load());
  EXPECT_EQ(third->pendingBytes.load(), 0);
  EXPECT_EQ(third->sendFlag.load(), 1);
  EXPECT_TRUE(third->valid.load());
  EXPECT_EQ(third->socket.load(), 12u);
}

TEST_F(ConnectionTableTest, StopRefusesToDropLiveConnections) {
  Reset(4);
  TcpConnection* connection = Accept();
  ASSERT_NE(connection, nullptr);
  EXPECT_THROW(table_.ReleaseSlots(), FatalError);
  Close(connection);
  table_.ReleaseSlots();
  EXPECT_EQ(table_.Find(1), nullptr);
  uint32_t id = 0;
  EXPECT_FALSE(table_.Reserve(id));
}

}  // namespace
}  // namespace qolv::net

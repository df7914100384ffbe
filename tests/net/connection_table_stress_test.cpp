// Accepting threads and a disconnecting thread work on one connection table at once, as the
// engine's workers do: objects are obtained, published, closed by whoever wins, released and
// reused after their rest. Bounded by a count of operations and a deadline.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "net/connection_table.h"
#include "net/server_properties.h"
#include "platform/clock.h"
#include "support/seams/platform_seams.h"

namespace qolv::net {
namespace {

std::atomic<uint32_t> g_tick{100000};
uint32_t StressTick() { return g_tick.load(); }

TEST(ConnectionTableStress, EveryConnectionIsClosedOnceAndNoObjectServesTwoAtOnce) {
  constexpr int kAcceptors = 3;
  constexpr int kAcceptsPerThread = 6000;
  constexpr auto kDeadline = std::chrono::seconds(20);
  platform::SetTickSource(&StressTick);

  std::atomic<ServerState> state{ServerState::Stopped};
  CServerProperties properties(state);
  properties.SetMaxConnections(24);
  properties.SetConnectionPoolSize(8);
  properties.SetReuseDelay(1000);
  CBlockPoolT<CIoBlock> ioBlocks;
  ioBlocks.Prepare(128, 32, 32);
  ConnectionTable table(ioBlocks);
  table.Reset(properties);

  std::atomic<int> accepted{0};
  std::atomic<int> closed{0};
  std::atomic<int> doubleUse{0};
  std::atomic<int> acceptorsLeft{kAcceptors};
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  auto inTime = [&] { return std::chrono::steady_clock::now() < deadline; };

  // Marks which connection id an object serves; an object obtained while it still serves a
  // live connection has been handed out twice.
  std::mutex servingLock;
  std::vector<std::pair<TcpConnection*, uint32_t>> serving;
  auto beginServing = [&](TcpConnection* connection, uint32_t id) {
    std::lock_guard<std::mutex> guard(servingLock);
    for (auto& [object, servedId] : serving) {
      if (object == connection) {
        if (servedId != 0) ++doubleUse;
        servedId = id;
        return;
      }
    }
    serving.emplace_back(connection, id);
  };
  auto endServing = [&](TcpConnection* connection) {
    std::lock_guard<std::mutex> guard(servingLock);
    for (auto& [object, servedId] : serving) {
      if (object == connection) servedId = 0;
    }
  };

  auto close = [&](uint32_t id) {
    TcpConnection* connection = table.FindValid(id);
    if (connection == nullptr || !connection->Invalidate()) return;
    ++closed;
    endServing(connection);
    table.Release(*connection);
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < kAcceptors; ++t) {
    threads.emplace_back([&, t] {
      std::deque<uint32_t> mine;
      for (int i = 0; i < kAcceptsPerThread && inTime(); ++i) {
        if (t == 0) g_tick += 3;  // objects come back into use after about 330 accepts
        uint32_t id = 0;
        if (table.Reserve(id)) {
          TcpConnection* connection = table.Obtain(id, static_cast<platform::SocketHandle>(id));
          beginServing(connection, id);
          {
            std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
            table.Prepare(*connection, platform::SockAddr{});
          }
          ++accepted;
          mine.push_back(id);
        }
        if (mine.size() > 4 || (i % 2 == 0 && !mine.empty())) {
          close(mine.front());
          mine.pop_front();
        }
      }
      for (uint32_t id : mine) close(id);
      --acceptorsLeft;
    });
  }
  threads.emplace_back([&] {
    // Races the acceptors to close their connections, as a Disconnect from another thread does.
    while (acceptorsLeft.load() > 0 && inTime()) {
      for (uint32_t id : table.Snapshot()) close(id);
    }
  });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(doubleUse.load(), 0);
  EXPECT_GT(accepted.load(), 0);
  EXPECT_EQ(closed.load(), accepted.load());
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table.Occupied(), 0);
  table.ReleaseSlots();
  table.DestroyRested();
  table.ResetArena();
  platform::SetTickSource(nullptr);
}

}  // namespace
}  // namespace qolv::net

// Many clients connect, send random-sized pieces and close or reset at random, while other
// threads send to, pause and disconnect random connections. Every byte that arrives must arrive
// once and in order, every connection must get exactly one OnClose, and no event of a
// connection may overlap another or follow its close. Bounded by counts and a deadline.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp_pull_server.h"
#include "net/tcp_server.h"
#include "net/tcp_server_listener.h"
#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"
#include "support/net/test_client.h"

namespace qolv::net::testing {
namespace {

constexpr auto kDeadline = std::chrono::seconds(60);
constexpr int kClientThreads = 6;
constexpr int kConnectionsPerThread = 40;
constexpr int kMaxPieces = 40;
constexpr int kMaxPiece = 3000;

// The stream of client connection k: its number in the first four bytes, then a pattern that
// depends on k and the position, so a byte out of place or from another connection shows.
uint8_t StreamByte(uint32_t k, size_t i) {
  if (i < 4) return static_cast<uint8_t>(k >> (8 * i));
  return static_cast<uint8_t>(k * 131u + i * 7u + (i >> 9));
}

std::string Stream(uint32_t k, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(StreamByte(k, i));
  return bytes;
}

// Checks every event against the rules of one connection and keeps what arrived.
class StressListener : public CTcpPullServerListener {
 public:
  explicit StressListener(bool pull) : pull_(pull) {}

  struct Connection {
    std::string received;
    int accepts = 0;
    int closes = 0;
    bool inEvent = false;
    int32_t unfetched = 0;  // pull: announced and not yet taken
    std::mt19937 random{7};
  };

  EventResult OnPrepareListen(ITcpServer*, platform::SocketHandle) override { return EventResult::Ok; }
  EventResult OnShutdown(ITcpServer*) override { return EventResult::Ok; }

  EventResult OnAccept(ITcpServer*, uint32_t id, platform::SocketHandle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Connection& connection = connections_[id];
    if (connection.accepts != connection.closes) Violation("accepted twice while live", id);
    ++connection.accepts;
    connection.received.clear();
    connection.unfetched = 0;
    return EventResult::Ok;
  }

  EventResult OnReady(ITcpServer*, uint32_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Live(id) == nullptr) Violation("ready without accept", id);
    return EventResult::Ok;
  }

  // Push model: the bytes themselves. Now and then an answer from inside the event, which the
  // worker flushes itself once the event has returned.
  EventResult OnReceive(ITcpServer* sender, uint32_t id, const uint8_t* data, int32_t length) override {
    Connection* connection = Enter(id);
    if (connection == nullptr) return EventResult::Error;
    connection->received.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    if (connection->random() % 4 == 0) sender->Send(id, data, std::min<int32_t>(length, 100));
    Leave(connection);
    return EventResult::Ok;
  }

  // Pull model: take random-sized pieces of what waits, sometimes leaving some for later.
  EventResult OnReceive(ITcpServer* sender, uint32_t id, int32_t length) override {
    Connection* connection = Enter(id);
    if (connection == nullptr) return EventResult::Error;
    connection->unfetched = length;
    std::uniform_int_distribution<int32_t> pieceSize(1, 700);
    uint8_t piece[700];
    for (int32_t size = pieceSize(connection->random); size <= connection->unfetched;
         size = pieceSize(connection->random)) {
      if (PullSocketOf(sender)->Fetch(id, piece, size) != PullResult::Ok) Violation("fetch refused", id);
      connection->received.append(reinterpret_cast<const char*>(piece), static_cast<size_t>(size));
      connection->unfetched -= size;
    }
    uint8_t more = 0;
    if (PullSocketOf(sender)->Peek(id, &more, connection->unfetched + 1) != PullResult::Insufficient) {
      Violation("more bytes held than announced", id);
    }
    Leave(connection);
    return EventResult::Ok;
  }

  EventResult OnSent(ITcpServer*, uint32_t, const uint8_t*, int32_t length) override {
    sentBytes_ += length;
    return EventResult::Ok;
  }

  EventResult OnClose(ITcpServer* sender, uint32_t id, SocketOp, uint32_t) override {
    Connection* connection = Enter(id);
    if (connection == nullptr) return EventResult::Ok;
    // What the listener did not take yet can still be taken during the close.
    if (pull_ && connection->unfetched > 0) {
      std::string rest(static_cast<size_t>(connection->unfetched), '\0');
      if (PullSocketOf(sender)->Fetch(id, reinterpret_cast<uint8_t*>(rest.data()), connection->unfetched) !=
          PullResult::Ok) {
        Violation("unfetched bytes lost before the close", id);
      }
      connection->received += rest;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connection->inEvent = false;
    ++connection->closes;
    finished_.emplace_back(id, connection->received);
    return EventResult::Ok;
  }

  std::vector<std::string> violations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
  }
  // The id and the bytes of every closed connection, in close order.
  std::vector<std::pair<uint32_t, std::string>> Finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
  }
  int Accepts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int sum = 0;
    for (const auto& [id, connection] : connections_) sum += connection.accepts;
    return sum;
  }
  int Closes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int sum = 0;
    for (const auto& [id, connection] : connections_) sum += connection.closes;
    return sum;
  }
  int64_t SentBytes() const { return sentBytes_; }

 private:
  Connection* Live(uint32_t id) {
    auto found = connections_.find(id);
    if (found == connections_.end() || found->second.accepts != found->second.closes + 1) return nullptr;
    return &found->second;
  }

  // Marks the connection as inside an event; an event that finds it there overlaps another.
  Connection* Enter(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    Connection* connection = Live(id);
    if (connection == nullptr) {
      Violation("event of a connection that is not live", id);
      return nullptr;
    }
    if (connection->inEvent) Violation("events of one connection overlap", id);
    connection->inEvent = true;
    return connection;
  }

  void Leave(Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    connection->inEvent = false;
  }

  void Violation(const char* what, uint32_t id) {
    if (violations_.size() < 20)
      violations_.push_back(std::string(what) + " (id " + std::to_string(id) + ")");
  }

  const bool pull_;
  mutable std::mutex mutex_;
  std::map<uint32_t, Connection> connections_;
  std::vector<std::pair<uint32_t, std::string>> finished_;
  std::vector<std::string> violations_;
  std::atomic<int64_t> sentBytes_{0};
};

// What a client did with connection k.
struct ClientRecord {
  size_t sent = 0;     // bytes the server accepted from it (all of them on a clean close)
  bool clean = false;  // closed in order after its last byte, and saw the server's close
};

void RunClient(int thread, uint16_t port, std::chrono::steady_clock::time_point deadline,
               std::vector<ClientRecord>& records) {
  std::mt19937 random(1000u + static_cast<unsigned>(thread));
  std::uniform_int_distribution<int> pieces(0, kMaxPieces);
  std::uniform_int_distribution<int> pieceSize(1, kMaxPiece);
  std::uniform_int_distribution<int> ending(0, 9);
  std::uniform_int_distribution<int> pause(0, 7);
  for (int n = 0; n < kConnectionsPerThread && std::chrono::steady_clock::now() < deadline; ++n) {
    const auto k = static_cast<uint32_t>(thread * kConnectionsPerThread + n + 1);
    ClientRecord& record = records[k];
    TestClient client;
    if (client.Connect(port) != err::kSuccess) continue;
    const int count = pieces(random);
    std::vector<size_t> sizes{4};
    for (int p = 0; p < count; ++p) sizes.push_back(static_cast<size_t>(pieceSize(random)));
    size_t total = 0;
    for (size_t size : sizes) total += size;
    const std::string stream = Stream(k, total);
    bool sendFailed = false;
    for (size_t size : sizes) {
      if (!client.Send(stream.substr(record.sent, size))) {
        sendFailed = true;
        break;
      }
      record.sent += size;
      // Now and then a pause, so the other threads find the connection in every state.
      if (pause(random) == 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (sendFailed || ending(random) < 3) {
      client.Reset();
      continue;
    }
    // An orderly end: no more bytes from here, then whatever the server still sends, then its
    // close; a close with unread bytes would turn into a reset.
    client.ShutdownSend();
    record.clean = client.WaitClosed();
  }
}

class EngineStress : public ::testing::TestWithParam<bool> {};

TEST_P(EngineStress, BytesArriveOnceInOrderAndEveryConnectionClosesOnce) {
  const bool pull = GetParam();
  StressListener listener(pull);
  std::unique_ptr<CTcpServer> server = pull ? std::make_unique<CTcpPullServerT<CTcpServer>>(&listener)
                                            : std::make_unique<CTcpServer>(&listener);
  server->SetWorkerThreadCount(4);
  server->SetBufferSize(pull ? 512 : 4096);
  server->SetPendingAcceptCount(16);
  ASSERT_TRUE(server->Start("127.0.0.1", 0));
  char text[32];
  int length = sizeof text;
  uint16_t port = 0;
  ASSERT_TRUE(server->GetListenAddress(text, length, port));

  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  std::atomic<bool> clientsDone{false};
  std::mutex disconnectedLock;
  std::set<uint32_t> disconnected;

  // Other threads act on random live connections while the clients work.
  auto chaos = [&](int seed, auto act) {
    std::mt19937 random(static_cast<unsigned>(seed));
    for (int round = 0; round < 100000 && !clientsDone; ++round) {
      uint32_t ids[256];
      uint32_t count = 256;
      if (server->GetConnectionIds(ids, count) && count > 0) {
        act(ids[std::uniform_int_distribution<uint32_t>(0, count - 1)(random)], random);
      }
      // A real sleep on both targets (a shorter one is no sleep at all on Windows).
      platform::SleepMs(1);
    }
  };
  std::thread sender(chaos, 1, [&](uint32_t id, std::mt19937& random) {
    const std::string note(std::uniform_int_distribution<size_t>(1, 6000)(random), 'n');
    server->Send(id, reinterpret_cast<const uint8_t*>(note.data()), static_cast<int32_t>(note.size()));
  });
  std::thread pauser(chaos, 2, [&](uint32_t id, std::mt19937&) {
    if (server->SetReceivePaused(id, true)) {
      platform::SleepMs(1);
      server->SetReceivePaused(id, false);
      // A pause that comes back before the worker has acted on the resume would starve the
      // connection: the resumed receive is posted by a worker, the next pause wins the race.
      platform::SleepMs(4);
    }
  });
  std::thread disconnecter(chaos, 3, [&](uint32_t id, std::mt19937& random) {
    if (std::uniform_int_distribution<int>(0, 9)(random) != 0) return;
    std::lock_guard<std::mutex> lock(disconnectedLock);
    // Recorded before the call: the close may come before Disconnect returns.
    disconnected.insert(id);
    server->Disconnect(id);
  });

  std::vector<ClientRecord> records(kClientThreads * kConnectionsPerThread + 1);
  std::vector<std::thread> clients;
  for (int t = 0; t < kClientThreads; ++t)
    clients.emplace_back(RunClient, t, port, deadline, std::ref(records));
  for (std::thread& client : clients) client.join();
  clientsDone = true;
  sender.join();
  pauser.join();
  disconnecter.join();
  ASSERT_TRUE(server->Stop());

  EXPECT_EQ(listener.violations(), std::vector<std::string>{});
  EXPECT_EQ(listener.Accepts(), listener.Closes());
  EXPECT_GT(listener.Accepts(), kClientThreads);

  // Every connection's bytes are the start of its client's stream; a client that ended cleanly
  // got all of them through, unless the server was told to disconnect it.
  std::set<uint32_t> seen;
  size_t complete = 0;
  for (const auto& [id, received] : listener.Finished()) {
    if (received.size() < 4) continue;
    uint32_t k = 0;
    std::memcpy(&k, received.data(), 4);
    ASSERT_LT(k, records.size());
    EXPECT_TRUE(seen.insert(k).second) << "two connections carried client stream " << k;
    EXPECT_LE(received.size(), records[k].sent) << "stream " << k;
    EXPECT_EQ(received, Stream(k, received.size())) << "stream " << k << " is out of order";
    if (records[k].clean && disconnected.count(id) == 0) {
      EXPECT_EQ(received.size(), records[k].sent) << "stream " << k << " lost bytes";
    }
    complete += received.size() == records[k].sent ? 1 : 0;
  }
  size_t cleanUnseen = 0;
  for (size_t k = 1; k < records.size(); ++k) cleanUnseen += records[k].clean && seen.count(k) == 0 ? 1 : 0;
  EXPECT_LE(cleanUnseen, disconnected.size());
  EXPECT_GT(complete, 0u);
  std::printf("connections %d, complete %zu, disconnected %zu, bytes sent by the server %lld\n",
              listener.Accepts(), complete, disconnected.size(),
              static_cast<long long>(listener.SentBytes()));
}

// Stop while clients keep connecting and sending: accepts complete during the stop, closes race
// the disconnect-all, and the server must still end with every connection closed once.
TEST_P(EngineStress, StopUnderLoadClosesEveryConnectionOnceAndCanStartAgain) {
  const bool pull = GetParam();
  for (int round = 0; round < 4; ++round) {
    StressListener listener(pull);
    std::unique_ptr<CTcpServer> server = pull ? std::make_unique<CTcpPullServerT<CTcpServer>>(&listener)
                                              : std::make_unique<CTcpServer>(&listener);
    server->SetWorkerThreadCount(3);
    server->SetPendingAcceptCount(8);
    ASSERT_TRUE(server->Start("127.0.0.1", 0));
    char text[32];
    int length = sizeof text;
    uint16_t port = 0;
    ASSERT_TRUE(server->GetListenAddress(text, length, port));

    std::atomic<bool> stopping{false};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
      clients.emplace_back([&, t] {
        const std::string bytes = Stream(static_cast<uint32_t>(t), 2000);
        for (int n = 0; n < 2000 && !stopping; ++n) {
          TestClient client;
          if (client.Connect(port) != err::kSuccess) continue;
          client.Send(bytes);
          if (n % 3 == 0) client.Reset();
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 25 * round));
    ASSERT_TRUE(server->Stop());
    stopping = true;
    for (std::thread& client : clients) client.join();

    EXPECT_EQ(listener.violations(), std::vector<std::string>{});
    EXPECT_EQ(listener.Accepts(), listener.Closes());
    EXPECT_EQ(server->CountConnections(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineStress, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Pull" : "Push";
                         });

}  // namespace
}  // namespace qolv::net::testing

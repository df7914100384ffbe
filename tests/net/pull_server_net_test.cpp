// The pull server: announced lengths, Fetch and Peek, buffers around the close, and ownership
// through the holder.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "net/server_holder.h"
#include "platform/error_codes.h"
#include "support/net/engine_fixture.h"

namespace qolv::net::testing {
namespace {

using PullServer = PullEngineFixture;

// What the listener saw and got in OnReceive, kept across events.
struct PullLog {
  std::mutex mutex;
  std::vector<int32_t> announced;
  std::vector<PullResult> results;
  std::string fetched;

  void Add(int32_t length, PullResult result, const uint8_t* bytes, int32_t count) {
    std::lock_guard<std::mutex> lock(mutex);
    announced.push_back(length);
    results.push_back(result);
    if (result == PullResult::Ok) fetched.append(reinterpret_cast<const char*>(bytes), count);
  }
};

TEST_F(PullServer, AnnouncedLengthCountsEveryByteNotYetFetched) {
  PullLog log;
  listener_.onReceive = [&](ITcpServer* server, uint32_t id, int32_t length) {
    uint8_t header[48];
    log.Add(length, PullSocketOf(server)->Fetch(id, header, 48), header, 48);
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const std::string bytes = std::string(30, 'a') + std::string(20, 'b') + "cdefg";
  ASSERT_TRUE(client->Send(bytes.substr(0, 30)));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 1));
  ASSERT_TRUE(client->Send(bytes.substr(30, 20)));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 2));
  ASSERT_TRUE(client->Send(bytes.substr(50)));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 3));

  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.announced, (std::vector<int32_t>{30, 50, 7}));
  EXPECT_EQ(log.results,
            (std::vector<PullResult>{PullResult::Insufficient, PullResult::Ok, PullResult::Insufficient}));
  EXPECT_EQ(log.fetched, bytes.substr(0, 48));
}

TEST_F(PullServer, PeekShowsWhatTheNextFetchTakes) {
  PullLog log;
  std::string peeked;
  listener_.onReceive = [&](ITcpServer* server, uint32_t id, int32_t length) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    IPullSocket* pull = PullSocketOf(server);
    if (pull->Peek(id, bytes.data(), length) == PullResult::Ok) peeked.assign(bytes.begin(), bytes.end());
    log.Add(length, pull->Fetch(id, bytes.data(), length), bytes.data(), length);
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send("exact"));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 1));
  ASSERT_TRUE(client->Send("next"));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 2));
  std::lock_guard<std::mutex> lock(log.mutex);
  // An exact fetch empties the buffer: the next event announces only the new bytes.
  EXPECT_EQ(log.announced, (std::vector<int32_t>{5, 4}));
  EXPECT_EQ(log.fetched, "exactnext");
  EXPECT_EQ(peeked, "next");
}

TEST_F(PullServer, FetchAcrossBlockBordersKeepsTheOrder) {
  server_->SetBufferSize(88);  // many small receives and data blocks
  const std::string bytes = [] {
    std::string s(1000, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i % 251);
    return s;
  }();
  listener_.onReceive = [&](ITcpServer* server, uint32_t id, int32_t length) {
    // Take everything in odd-sized pieces once all of it is there.
    if (length < static_cast<int32_t>(bytes.size())) return EventResult::Ok;
    for (int32_t taken = 0; taken < length;) {
      uint8_t piece[61];
      const int32_t size = std::min<int32_t>(61, length - taken);
      if (PullSocketOf(server)->Fetch(id, piece, size) != PullResult::Ok) return EventResult::Error;
      listener_.AddReceived(id, piece, size);
      taken += size;
    }
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send(bytes));
  ASSERT_TRUE(listener_.WaitForReceived(id, bytes.size()));
  EXPECT_EQ(listener_.Received(id), bytes);
}

TEST_F(PullServer, UnfetchedBytesAreStillThereDuringOnCloseAndGoneAfterIt) {
  std::atomic<int32_t> held{0};
  listener_.onReceive = [&](ITcpServer*, uint32_t, int32_t length) {
    held = length;
    return EventResult::Ok;
  };
  std::string inClose;
  listener_.onClose = [&](ITcpServer* server, uint32_t id, SocketOp, uint32_t) {
    std::vector<uint8_t> bytes(static_cast<size_t>(held.load()));
    if (PullSocketOf(server)->Fetch(id, bytes.data(), held) == PullResult::Ok)
      inClose.assign(bytes.begin(), bytes.end());
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send("left behind"));
  ASSERT_TRUE(listener_.WaitUntil([](const std::vector<Event>& events) {
    return !events.empty() && events.back().kind == EventKind::Receive && events.back().length == 11;
  }));
  client->Close();
  ASSERT_TRUE(listener_.WaitForClose(id));
  EXPECT_EQ(inClose, "left behind");
  ASSERT_TRUE(WaitForConnectionCount(0));
  uint8_t byte = 0;
  EXPECT_EQ(PullSocketOf(server_.get())->Fetch(id, &byte, 0), PullResult::NoBuffer);
  EXPECT_EQ(PullSocketOf(server_.get())->Peek(0, &byte, 1), PullResult::NoBuffer);
  EXPECT_EQ(PullSocketOf(server_.get())->Fetch(999999, &byte, 1), PullResult::NoBuffer);
}

// A listener that paused with bytes left must hear of them again on resume, even when the
// client has nothing more to send.
TEST_F(PullServer, ResumingAnnouncesTheBytesLeftAgain) {
  PullLog log;
  std::atomic<int> events{0};
  listener_.onReceive = [&](ITcpServer* server, uint32_t id, int32_t length) {
    uint8_t first[4];
    const bool pausing = events++ == 0;
    log.Add(length, pausing ? PullResult::Insufficient : PullSocketOf(server)->Fetch(id, first, 4), first, 4);
    if (pausing) server->SetReceivePaused(id, true);
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send("held back"));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 1));
  bool paused = false;
  ASSERT_TRUE(server_->IsReceivePaused(id, paused));
  EXPECT_TRUE(paused);
  ASSERT_TRUE(server_->SetReceivePaused(id, false));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 2));
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.announced, (std::vector<int32_t>{9, 9}));
  EXPECT_EQ(log.fetched, "held");
}

TEST_F(PullServer, ErrorFromOnReadyLeavesTheConnectionWithoutBufferOrClose) {
  listener_.onReady = [](ITcpServer*, uint32_t) { return EventResult::Error; };
  ASSERT_TRUE(Start());
  TestClient client;
  ASSERT_EQ(client.Connect(port_), 0u);
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Ready, 1));
  uint8_t byte = 0;
  EXPECT_EQ(PullSocketOf(server_.get())->Fetch(listener_.AcceptedId(0), &byte, 0), PullResult::NoBuffer);
  EXPECT_EQ(listener_.Count(EventKind::Close), 0);
}

TEST_F(PullServer, RestartGivesFreshBuffers) {
  listener_.onReceive = [](ITcpServer*, uint32_t, int32_t) { return EventResult::Ok; };  // keeps bytes
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto first = Connect(id);
  ASSERT_TRUE(first->Send("stale"));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 1));
  ASSERT_TRUE(server_->Stop());

  PullLog log;
  listener_.onReceive = [&](ITcpServer* server, uint32_t newId, int32_t length) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    log.Add(length, PullSocketOf(server)->Fetch(newId, bytes.data(), length), bytes.data(), length);
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t again = 0;
  auto second = Connect(again);
  EXPECT_EQ(again, id);
  ASSERT_TRUE(second->Send("new"));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 2));
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(log.fetched, "new");
}

TEST(PullServerHolder, OwnsTheServerAndStopsItOnRelease) {
  RecordingListener listener;
  TestClient client;
  {
    TcpPullServerHolder holder(&listener);
    ASSERT_TRUE(holder->Start("127.0.0.1", 0));
    char text[32];
    int length = sizeof text;
    uint16_t port = 0;
    ASSERT_TRUE(holder->GetListenAddress(text, length, port));
    ASSERT_EQ(client.Connect(port), 0u);
    ASSERT_NE(listener.WaitForReady(0), 0u);
    ASSERT_TRUE(client.Send("through the holder"));
    ASSERT_TRUE(listener.WaitForReceived(listener.AcceptedId(0), 18));
  }
  EXPECT_EQ(listener.Count(EventKind::Close), 1);
  EXPECT_EQ(listener.Count(EventKind::Shutdown), 1);
  EXPECT_EQ(listener.Received(1), "through the holder");
  EXPECT_TRUE(client.WaitClosed());
  TcpPullServer_Creator::Release(nullptr);
}

}  // namespace
}  // namespace qolv::net::testing

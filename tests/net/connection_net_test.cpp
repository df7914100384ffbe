// One connection's life through the engine: accept, receive, pause, close, and what the
// application can ask about it on the way.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/error_codes.h"
#include "support/net/engine_fixture.h"

namespace qolv::net::testing {
namespace {

using Connections = EngineFixture;

std::vector<EventKind> KindsOf(const std::vector<Event>& events) {
  std::vector<EventKind> kinds;
  for (const Event& event : events) kinds.push_back(event.kind);
  return kinds;
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

TEST_F(Connections, EventsComeInOrderAndTheBytesUnchanged) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  EXPECT_EQ(server_->CountConnections(), 1u);
  EXPECT_TRUE(server_->IsConnectionOpen(id));
  ASSERT_TRUE(client->Send("hello "));
  ASSERT_TRUE(listener_.WaitForReceived(id, 6));
  ASSERT_TRUE(client->Send("world"));
  ASSERT_TRUE(listener_.WaitForReceived(id, 11));
  client->Close();
  ASSERT_TRUE(listener_.WaitForClose(id));

  const std::vector<Event> events = listener_.EventsOf(id);
  const std::vector<EventKind> kinds = KindsOf(events);
  ASSERT_GE(kinds.size(), 4u);
  EXPECT_EQ(kinds.front(), EventKind::Accept);
  EXPECT_EQ(kinds[1], EventKind::Ready);
  EXPECT_EQ(kinds.back(), EventKind::Close);
  EXPECT_TRUE(
      std::all_of(kinds.begin() + 2, kinds.end() - 1, [](EventKind k) { return k == EventKind::Receive; }));
  EXPECT_EQ(events.back().operation, SocketOp::Close);
  EXPECT_EQ(events.back().error, 0u);
  EXPECT_EQ(listener_.Received(id), "hello world");
  EXPECT_FALSE(server_->IsConnectionOpen(id));
  EXPECT_TRUE(WaitForConnectionCount(0));
}

TEST_F(Connections, ClientThatClosesAtOnceGetsACloseAndNoReceive) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  client->Close();
  ASSERT_TRUE(listener_.WaitForClose(id));
  const std::vector<Event> events = listener_.EventsOf(id);
  EXPECT_EQ(KindsOf(events), (std::vector<EventKind>{EventKind::Accept, EventKind::Ready, EventKind::Close}));
  EXPECT_EQ(events.back().operation, SocketOp::Close);
  EXPECT_EQ(events.back().error, 0u);
}

TEST_F(Connections, ResetIsReportedAsAFailedReceiveWithTheSocketError) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  client->Reset();
  ASSERT_TRUE(listener_.WaitForClose(id));
  const Event close = listener_.EventsOf(id).back();
  EXPECT_EQ(close.operation, SocketOp::Receive);
  EXPECT_EQ(close.error, err::kWsaConnectionReset);
}

TEST_F(Connections, ReceiveRefusedByTheListenerClosesWithItsErrorOrCancelled) {
  std::atomic<int> refusals{0};
  listener_.onReceive = [&](ITcpServer*, uint32_t, int32_t) {
    platform::SetSystemError(refusals++ == 0 ? 0 : err::kAccessDenied);
    return EventResult::Error;
  };
  ASSERT_TRUE(Start());
  for (uint32_t expected : {err::kCancelled, err::kAccessDenied}) {
    uint32_t id = 0;
    auto client = Connect(id);
    ASSERT_TRUE(client->Send("no"));
    ASSERT_TRUE(listener_.WaitForClose(id));
    const Event close = listener_.EventsOf(id).back();
    EXPECT_EQ(close.operation, SocketOp::Receive);
    EXPECT_EQ(close.error, expected);
    EXPECT_TRUE(client->WaitClosed());
  }
}

TEST_F(Connections, BurstArrivesInOrderInChunksOfAtMostTheBufferSize) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const std::string burst = Pattern(10000);
  ASSERT_TRUE(client->Send(burst));
  ASSERT_TRUE(listener_.WaitForReceived(id, burst.size()));
  EXPECT_EQ(listener_.Received(id), burst);
  int32_t total = 0;
  for (const Event& event : listener_.EventsOf(id)) {
    if (event.kind != EventKind::Receive) continue;
    EXPECT_GT(event.length, 0);
    EXPECT_LE(event.length, 4096);
    total += event.length;
  }
  EXPECT_EQ(total, 10000);
}

TEST_F(Connections, OneSlotRefusesTheSecondClientSilentlyAndIssuesTheNextGeneration) {
  server_->SetMaxConnections(1);
  ASSERT_TRUE(Start());
  uint32_t first = 0;
  auto a = Connect(first);
  EXPECT_EQ(first, 1u);

  TestClient refused;
  ASSERT_EQ(refused.Connect(port_), 0u);
  EXPECT_TRUE(refused.WaitClosed());
  EXPECT_EQ(listener_.Count(EventKind::Accept), 1);
  ASSERT_TRUE(a->Send("still here"));
  EXPECT_TRUE(listener_.WaitForReceived(first, 10));

  a->Close();
  ASSERT_TRUE(listener_.WaitForClose(first));
  ASSERT_TRUE(WaitForConnectionCount(0));
  uint32_t second = 0;
  auto b = Connect(second);
  EXPECT_EQ(second, 2u);
  EXPECT_EQ(listener_.Count(EventKind::Accept), 2);
}

TEST_F(Connections, TwoSlotsReuseAFreedSlotUnderANewId) {
  server_->SetMaxConnections(2);
  ASSERT_TRUE(Start());
  uint32_t ids[3] = {};
  auto a = Connect(ids[0]);
  auto b = Connect(ids[1]);
  EXPECT_EQ(ids[0], 1u);
  EXPECT_EQ(ids[1], 2u);
  a->Close();
  ASSERT_TRUE(listener_.WaitForClose(ids[0]));
  ASSERT_TRUE(WaitForConnectionCount(1));
  auto c = Connect(ids[2]);
  EXPECT_EQ(ids[2], 3u);  // slot 0, generation 1
  void* extra = nullptr;
  EXPECT_FALSE(server_->GetConnectionExtra(1, extra)) << "a retired id must not resolve";
}

TEST_F(Connections, ErrorFromAcceptOrReadyRefusesTheConnectionWithoutClose) {
  listener_.onAccept = [](ITcpServer*, uint32_t id) {
    return id == 1 ? EventResult::Error : EventResult::Ok;
  };
  listener_.onReady = [](ITcpServer*, uint32_t id) { return id == 2 ? EventResult::Error : EventResult::Ok; };
  ASSERT_TRUE(Start());
  TestClient refusedAtAccept;
  ASSERT_EQ(refusedAtAccept.Connect(port_), 0u);
  EXPECT_TRUE(refusedAtAccept.WaitClosed());
  TestClient refusedAtReady;
  ASSERT_EQ(refusedAtReady.Connect(port_), 0u);
  EXPECT_TRUE(refusedAtReady.WaitClosed());
  uint32_t id = 0;
  auto accepted = Connect(id);
  EXPECT_EQ(id, 3u);

  EXPECT_EQ(KindsOf(listener_.EventsOf(1)), std::vector<EventKind>{EventKind::Accept});
  EXPECT_EQ(KindsOf(listener_.EventsOf(2)), (std::vector<EventKind>{EventKind::Accept, EventKind::Ready}));
  EXPECT_TRUE(WaitForConnectionCount(1));
}

TEST_F(Connections, DisconnectClosesOnceAndThenTheIdIsGone) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  EXPECT_TRUE(server_->Disconnect(id));
  ASSERT_TRUE(listener_.WaitForClose(id));
  EXPECT_TRUE(client->WaitClosed());
  const Event close = listener_.EventsOf(id).back();
  EXPECT_EQ(close.operation, SocketOp::Close);
  EXPECT_EQ(close.error, 0u);
  ASSERT_TRUE(WaitForConnectionCount(0));

  platform::SetSystemError(0);
  EXPECT_FALSE(server_->Disconnect(id));
  EXPECT_EQ(platform::GetSystemError(), err::kObjectNotFound);
  EXPECT_FALSE(server_->SetReceivePaused(id, true));
  EXPECT_EQ(platform::GetSystemError(), err::kObjectNotFound);
  uint32_t age = 0;
  void* extra = nullptr;
  EXPECT_FALSE(server_->GetConnectionAge(id, age));
  EXPECT_FALSE(server_->SetConnectionExtra(id, &age));
  EXPECT_FALSE(server_->GetConnectionExtra(id, extra));
  EXPECT_FALSE(server_->IsConnectionOpen(0));
  EXPECT_FALSE(server_->IsConnectionOpen(256 * 10000 + 1));
  EXPECT_EQ(listener_.Count(EventKind::Close), 1);
}

TEST_F(Connections, DuringOnCloseTheIdResolvesForItsExtraAndAddressOnly) {
  int marker = 0;
  listener_.onAccept = [&](ITcpServer* server, uint32_t id) {
    server->SetConnectionExtra(id, &marker);
    return EventResult::Ok;
  };
  struct Seen {
    void* extra = nullptr;
    std::string address;
    bool sent = true;
    uint32_t sendError = 0;
    bool open = true;
  } seen;
  listener_.onClose = [&](ITcpServer* server, uint32_t id, SocketOp, uint32_t) {
    server->GetConnectionExtra(id, seen.extra);
    char text[64] = {};
    int length = sizeof text;
    uint16_t port = 0;
    if (server->GetRemoteAddress(id, text, length, port)) seen.address = text;
    seen.sent = server->Send(id, reinterpret_cast<const uint8_t*>("late"), 4);
    seen.sendError = platform::GetSystemError();
    seen.open = server->IsConnectionOpen(id);
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  client->Close();
  ASSERT_TRUE(listener_.WaitForClose(id));
  EXPECT_EQ(seen.extra, &marker);
  EXPECT_EQ(seen.address, "127.0.0.1");
  EXPECT_FALSE(seen.sent);
  EXPECT_EQ(seen.sendError, err::kObjectNotFound);
  EXPECT_FALSE(seen.open);
}

TEST_F(Connections, PausedConnectionHoldsLaterBytesUntilResumed) {
  // Pausing inside the first delivery leaves no receive posted behind it.
  listener_.onReceive = [](ITcpServer* server, uint32_t id, int32_t) {
    bool paused = false;
    server->IsReceivePaused(id, paused);
    if (!paused) server->SetReceivePaused(id, true);
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send("first"));
  ASSERT_TRUE(listener_.WaitForReceived(id, 5));
  bool paused = false;
  ASSERT_TRUE(server_->IsReceivePaused(id, paused));
  EXPECT_TRUE(paused);
  ASSERT_TRUE(client->Send("second"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(listener_.Received(id), "first");

  listener_.onReceive = nullptr;
  ASSERT_TRUE(server_->SetReceivePaused(id, false));
  ASSERT_TRUE(listener_.WaitForReceived(id, 11));
  EXPECT_EQ(listener_.Received(id), "firstsecond");
  ASSERT_TRUE(server_->IsReceivePaused(id, paused));
  EXPECT_FALSE(paused);
}

TEST_F(Connections, AddressesAreBareTextsWithTheirPorts) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  char text[64] = {};
  int length = sizeof text;
  uint16_t port = 0;
  ASSERT_TRUE(server_->GetRemoteAddress(id, text, length, port));
  EXPECT_STREQ(text, "127.0.0.1");
  EXPECT_EQ(length, 10);
  EXPECT_EQ(port, client->LocalPort());
  length = sizeof text;
  ASSERT_TRUE(server_->GetConnectionLocalAddress(id, text, length, port));
  EXPECT_STREQ(text, "127.0.0.1");
  EXPECT_EQ(port, port_);
  length = 5;  // too small for the system's text with its port
  EXPECT_FALSE(server_->GetRemoteAddress(id, text, length, port));
}

TEST_F(Connections, ConnectionIdsAreReportedOnlyWhenTheyFit) {
  ASSERT_TRUE(Start());
  uint32_t a = 0;
  uint32_t b = 0;
  auto first = Connect(a);
  auto second = Connect(b);
  uint32_t ids[4] = {};
  uint32_t count = 0;
  EXPECT_FALSE(server_->GetConnectionIds(ids, count));
  EXPECT_EQ(count, 2u);
  count = 1;
  EXPECT_FALSE(server_->GetConnectionIds(ids, count));
  EXPECT_EQ(count, 2u);
  count = 2;
  EXPECT_FALSE(server_->GetConnectionIds(nullptr, count));
  EXPECT_EQ(count, 2u);
  count = 4;
  ASSERT_TRUE(server_->GetConnectionIds(ids, count));
  ASSERT_EQ(count, 2u);
  std::sort(ids, ids + 2);
  EXPECT_EQ(ids[0], a);
  EXPECT_EQ(ids[1], b);

  first->Close();
  second->Close();
  ASSERT_TRUE(WaitForConnectionCount(0));
  count = 4;
  EXPECT_FALSE(server_->GetConnectionIds(ids, count));
  EXPECT_EQ(count, 0u);
}

TEST_F(Connections, AgeAndIdleTimeDriveTheBulkDisconnects) {
  ASSERT_TRUE(Start());
  uint32_t a = 0;
  uint32_t b = 0;
  auto first = Connect(a);
  auto second = Connect(b);
  uint32_t age = 99999;
  uint32_t idle = 99999;
  ASSERT_TRUE(server_->GetConnectionAge(a, age));
  ASSERT_TRUE(server_->GetIdleTime(a, idle));
  EXPECT_LT(age, 99999u);
  EXPECT_FALSE(server_->DisconnectByAge(0x40000000));
  EXPECT_FALSE(server_->DisconnectIdle(0x40000000));
  // Nobody is an hour old yet.
  EXPECT_TRUE(server_->DisconnectIdle(3600000));
  EXPECT_TRUE(first->StaysQuiet(100));
  EXPECT_TRUE(server_->DisconnectByAge(0));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Close, 2));
  EXPECT_TRUE(first->WaitClosed());
  EXPECT_TRUE(second->WaitClosed());
}

TEST_F(Connections, WithoutSilenceTrackingThereIsNoIdleTime) {
  server_->SetTrackSilence(false);
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  uint32_t idle = 0;
  EXPECT_FALSE(server_->GetIdleTime(id, idle));
  EXPECT_FALSE(server_->DisconnectIdle(0));
  EXPECT_TRUE(client->StaysQuiet(100));
}

}  // namespace
}  // namespace qolv::net::testing

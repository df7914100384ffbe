#include "request/tcp_service.h"

#include <gtest/gtest.h>

#include <string>

#include "request/fake_pull_server.h"
#include "request/receive_state.h"
#include "request_support/frames.h"
#include "request_support/log_capture.h"
#include "request_support/recording_delegate.h"

namespace qolv {
namespace {

using net::EventResult;
using testing::FakePullServer;
using testing::Frame;
using testing::Header;

// The events are raised by hand on a fake server; the service's own server only lends the
// delegate and the port.
class TcpServiceEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.Start(&delegate_, 0);
    ASSERT_EQ(service_.OnAccept(&server_, kId, 0), EventResult::Ok);
    server_.waiting[kId];
  }

  // Connections still open in the fake end here, so their states are freed.
  void TearDown() override {
    for (auto& [id, extra] : server_.extras) {
      if (extra != nullptr) service_.OnClose(&server_, id, net::SocketOp::Close, 0);
    }
  }

  // Appends bytes to what the connection holds and raises the receive event with the new total.
  EventResult Arrive(const std::string& bytes, uint32_t id = kId) {
    server_.waiting[id] += bytes;
    return service_.OnReceive(&server_, id, static_cast<int32_t>(server_.waiting[id].size()));
  }

  size_t Held(uint32_t id = kId) { return server_.waiting[id].size(); }

  static constexpr uint32_t kId = 7;
  testing::LogCapture log_;
  testing::RecordingDelegate delegate_;
  FakePullServer server_;
  TcpService service_;
};

TEST_F(TcpServiceEvents, BytesArrivingOneByOneAreFetchedOnlyAsWholeHeadersAndBodies) {
  const std::string request = Frame(TPMT_REQUEST_API, "id-1", "{\"a\":1}");
  for (size_t i = 0; i + 1 < FrameHeader::kSize; ++i) {
    ASSERT_EQ(Arrive(request.substr(i, 1)), EventResult::Ok);
    ASSERT_EQ(server_.fetchCalls, 0) << "after byte " << i;
  }
  ASSERT_EQ(Arrive(request.substr(FrameHeader::kSize - 1, 1)), EventResult::Ok);
  EXPECT_EQ(server_.fetchCalls, 1);
  EXPECT_EQ(Held(), 0u);
  for (size_t i = FrameHeader::kSize; i + 1 < request.size(); ++i) {
    ASSERT_EQ(Arrive(request.substr(i, 1)), EventResult::Ok);
    ASSERT_EQ(server_.fetchCalls, 1);
  }
  EXPECT_TRUE(delegate_.Frames().empty());
  ASSERT_EQ(Arrive(request.substr(request.size() - 1)), EventResult::Ok);
  EXPECT_EQ(server_.fetchCalls, 2);

  const std::string heartbeat = Frame(TPMT_HEART_BEAT, "hb");
  for (char byte : heartbeat) ASSERT_EQ(Arrive(std::string(1, byte)), EventResult::Ok);

  const auto frames = delegate_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].port, service_.Port());
  EXPECT_EQ(frames[0].connectionId, kId);
  EXPECT_EQ(frames[0].header, request.substr(0, FrameHeader::kSize));
  EXPECT_FALSE(frames[0].bodyIsNull);
  EXPECT_EQ(frames[0].body, "{\"a\":1}");
  EXPECT_EQ(frames[1].header, heartbeat);
  EXPECT_TRUE(frames[1].bodyIsNull);
}

TEST_F(TcpServiceEvents, OneEventDeliversEveryCompleteFrameInOrderAndKeepsTheRest) {
  const std::string first = Frame(TPMT_REQUEST_API, "one", "body-1");
  const std::string empty = Frame(TPMT_RAW_MSG, "two");
  const std::string third = Frame(TPMT_RAW_MSG, "three", "body-3");
  const std::string fourth = Frame(TPMT_RESPONSE_API, "four", "body-4");
  ASSERT_EQ(Arrive(first + empty + third + fourth.substr(0, 50)), EventResult::Ok);

  auto frames = delegate_.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].body, "body-1");
  EXPECT_EQ(frames[1].header, empty);
  EXPECT_TRUE(frames[1].bodyIsNull);
  EXPECT_EQ(frames[2].body, "body-3");
  EXPECT_EQ(Held(), 2u) << "the fourth header was taken, two body bytes wait";

  ASSERT_EQ(Arrive(fourth.substr(50)), EventResult::Ok);
  frames = delegate_.Frames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[3].header, fourth.substr(0, FrameHeader::kSize));
  EXPECT_EQ(frames[3].body, "body-4");
}

TEST_F(TcpServiceEvents, ABadHeaderFailsTheEventAfterTheFramesBeforeIt) {
  const std::string good = Frame(TPMT_HEART_BEAT, "good");
  std::string badMagic = Frame(TPMT_REQUEST_API, "bad", "{}");
  badMagic[1] = 'X';
  EXPECT_EQ(Arrive(good + badMagic), EventResult::Error);
  ASSERT_EQ(delegate_.Frames().size(), 1u);
  EXPECT_EQ(delegate_.Frames()[0].header, good);

  const std::string refused[] = {Header(TPMT_REQUEST_API, "lower", 0, "qv"),
                                 Header(TPMT_REQUEST_API, "top", 0x80000000u),
                                 Header(TPMT_REQUEST_API, "top", 0xFFFFFFFFu)};
  uint32_t id = 20;
  for (const std::string& header : refused) {
    ASSERT_EQ(service_.OnAccept(&server_, ++id, 0), EventResult::Ok);
    EXPECT_EQ(Arrive(header, id), EventResult::Error) << id;
  }
  EXPECT_EQ(delegate_.Frames().size(), 1u);
  // None of these writes a line of its own: the close that follows is logged instead.
  EXPECT_EQ(log_.CountStartingWith(testing::kErrorTag, "TcpService OnReceive"), 0);
  EXPECT_EQ(log_.CountStartingWith(testing::kInfoTag, "TcpService OnReceive"), 0);
}

TEST_F(TcpServiceEvents, AHugeAnnouncedBodyWaitsUntilTheReceiveLimitIsPassed) {
  ASSERT_EQ(Arrive(Header(TPMT_REQUEST_API, "huge", 0x7FFFFFFFu) + "{\"action\":"), EventResult::Ok);
  EXPECT_EQ(server_.fetchCalls, 1);
  EXPECT_EQ(Held(), 10u);

  // The engine reports the held bytes; nothing is fetched or allocated for them up to the limit.
  EXPECT_EQ(service_.OnReceive(&server_, kId, TcpService::kReceiveLimit), EventResult::Ok);
  EXPECT_EQ(service_.OnReceive(&server_, kId, TcpService::kReceiveLimit + 1), EventResult::Error);
  EXPECT_EQ(server_.fetchCalls, 1);
  EXPECT_EQ(
      log_.Count(testing::kErrorTag, "TcpService OnReceive buffer limit exceeded, connid=7, length=67108865"),
      1);
  EXPECT_TRUE(delegate_.Frames().empty());
}

TEST_F(TcpServiceEvents, AConnectionWithoutStateFailsItsReceive) {
  server_.waiting[9] = Frame(TPMT_HEART_BEAT, "x");
  EXPECT_EQ(service_.OnReceive(&server_, 9, 48), EventResult::Error);
  EXPECT_EQ(server_.fetchCalls, 0);
  EXPECT_EQ(log_.Count(testing::kInfoTag, "TcpService OnReceive GetConnectionExtra exception, connid=9;"), 1);
}

TEST_F(TcpServiceEvents, AcceptAttachesAStateAndCloseFreesItAndTellsTheDelegate) {
  EXPECT_EQ(
      log_.Count(testing::kInfoTag, "TcpService OnAccept: connid=7; remoteAddress=127.0.0.1; port=50123"), 1);
  ASSERT_NE(server_.extras[kId], nullptr);
  const auto* state = static_cast<const ReceiveState*>(server_.extras[kId]);
  EXPECT_TRUE(state->expectingHeader);
  EXPECT_EQ(state->expectedLength, 48);

  // Half a frame is never delivered when the connection ends under it.
  ASSERT_EQ(Arrive(Frame(TPMT_REQUEST_API, "half", "0123456789").substr(0, 52)), EventResult::Ok);
  EXPECT_EQ(service_.OnClose(&server_, kId, net::SocketOp::Receive, 0), EventResult::Ok);
  EXPECT_EQ(server_.extras[kId], nullptr);
  EXPECT_EQ(delegate_.Closed(), std::vector<uint32_t>{kId});
  EXPECT_TRUE(delegate_.Frames().empty());
  EXPECT_EQ(log_.Count(testing::kInfoTag, "TcpService OnClose: connid=7"), 1);

  ASSERT_EQ(service_.OnAccept(&server_, 8, 0), EventResult::Ok);
  EXPECT_EQ(service_.OnClose(&server_, 8, net::SocketOp::Send, 10054), EventResult::Ok);
  EXPECT_EQ(
      log_.Count(testing::kInfoTag, "TcpService OnClose(link error): connid=8; operation=3; errcode:10054"),
      1);
  // A connection that never got a state still reports its close.
  EXPECT_EQ(service_.OnClose(&server_, 99, net::SocketOp::Close, 0), EventResult::Ok);
  EXPECT_EQ(delegate_.Closed(), (std::vector<uint32_t>{kId, 8, 99}));

  // A state the connection refuses to hold is not leaked (the address sanitizer would see it).
  server_.refuseExtra = true;
  EXPECT_EQ(service_.OnAccept(&server_, 10, 0), EventResult::Ok);
  EXPECT_EQ(server_.extras.count(10), 0u);
}

TEST_F(TcpServiceEvents, ListenAndShutdownAreLogged) {
  EXPECT_EQ(service_.OnPrepareListen(&server_, 0), EventResult::Ok);
  EXPECT_EQ(log_.Count(testing::kInfoTag, "TcpService OnPrepareListen: address=0.0.0.0; port=45678"), 1);
  EXPECT_EQ(service_.OnShutdown(&server_), EventResult::Ok);
  EXPECT_EQ(log_.Count(testing::kInfoTag, "TcpService OnShutdown, port=" + std::to_string(service_.Port())),
            1);
}

TEST_F(TcpServiceEvents, FailedSendAndDisconnectAreLoggedAndNotReported) {
  EXPECT_FALSE(service_.Send(12345, reinterpret_cast<const uint8_t*>("abc"), 3));
  EXPECT_EQ(log_.CountStartingWith(testing::kErrorTag, "TcpService SendFailed: error="), 1);
  EXPECT_FALSE(service_.Disconnect(12345));
  EXPECT_EQ(log_.CountStartingWith(testing::kErrorTag, "TcpService DisconnectFailed: error="), 1);
  EXPECT_TRUE(delegate_.Closed().empty());
}

}  // namespace
}  // namespace qolv

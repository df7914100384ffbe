#include "request/tcp_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request/fake_pull_server.h"
#include "request/receive_state.h"
#include "support/request/frames.h"
#include "support/request/log_capture.h"
#include "support/request/recording_delegate.h"

namespace qolv {
namespace {

using net::EventResult;
using testing::FakePullServer;
using testing::Frame;
using testing::Header;

constexpr int32_t kMiB = 1024 * 1024;

// Records frames and, when asked to, keeps their tickets as the request handling keeps them
// until a frame's task is gone.
class HoldingDelegate : public testing::RecordingDelegate {
 public:
  explicit HoldingDelegate(TcpService& service) : service_(service) {}
  void OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header, const uint8_t* body,
                 int32_t bodyLength) override {
    RecordingDelegate::OnMessage(localPort, connectionId, header, body, bodyLength);
    if (keepTickets) tickets.push_back(service_.TakeWorkTicket());
  }
  // Ends the work of all but the last count frames.
  void KeepOnly(size_t count) { tickets.erase(tickets.begin(), tickets.end() - static_cast<long>(count)); }

  bool keepTickets = false;
  std::vector<WorkTicket> tickets;

 private:
  TcpService& service_;
};

// The events are raised by hand on a fake server; the service's own server only lends the
// delegate and the port.
class TcpServiceEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.Start(&delegate_, 0);
    ASSERT_EQ(service_.OnAccept(&server_, kId, 0), EventResult::Ok);
    server_.waiting[kId];
  }

  // Connections still open in the fake end here, so their states are freed; whatever they held
  // leaves the service's accounts with them, tickets still out or not.
  void TearDown() override {
    for (auto& [id, extra] : server_.extras) {
      if (extra != nullptr) service_.OnClose(&server_, id, net::SocketOp::Close, 0);
    }
    EXPECT_EQ(service_.Ledger().Held(), 0);
  }

  // Appends bytes to what the connection holds and raises the receive event with the new total.
  EventResult Arrive(const std::string& bytes, uint32_t id = kId) {
    server_.waiting[id] += bytes;
    return service_.OnReceive(&server_, id, static_cast<int32_t>(server_.waiting[id].size()));
  }

  size_t Held(uint32_t id = kId) { return server_.waiting[id].size(); }

  static constexpr uint32_t kId = 7;
  testing::LogCapture log_;
  TcpService service_;
  HoldingDelegate delegate_{service_};
  FakePullServer server_;
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

TEST_F(TcpServiceEvents, AConnectionOverItsHighMarkIsPausedUntilItsWorkDrainsBelowTheLowMark) {
  delegate_.keepTickets = true;
  constexpr int kFrames = ConnectionFlow::kTaskHigh + 36;
  std::string heartbeats;
  for (int i = 0; i < kFrames; ++i) heartbeats += Frame(TPMT_HEART_BEAT, "beat-" + std::to_string(i));
  ASSERT_EQ(Arrive(heartbeats + "QV"), EventResult::Ok);
  // Whole frames only are held back, in the engine's buffer.
  EXPECT_EQ(delegate_.Frames().size(), size_t{ConnectionFlow::kTaskHigh});
  EXPECT_EQ(Held(), 36 * FrameHeader::kSize + 2);
  EXPECT_EQ(server_.pauseCalls, (std::vector<std::pair<uint32_t, bool>>{{kId, true}}));
  EXPECT_EQ(service_.Ledger().Received(), static_cast<int64_t>(Held()));

  // While paused, bytes the engine still delivers are only counted.
  ASSERT_EQ(Arrive("\x01"), EventResult::Ok);
  EXPECT_EQ(delegate_.Frames().size(), size_t{ConnectionFlow::kTaskHigh});
  delegate_.KeepOnly(ConnectionFlow::kTaskLow + 1);
  EXPECT_TRUE(server_.paused[kId]);
  delegate_.KeepOnly(ConnectionFlow::kTaskLow);
  EXPECT_FALSE(server_.paused[kId]);

  // The engine announces the held bytes again on resume; the rest is delivered in order.
  ASSERT_EQ(service_.OnReceive(&server_, kId, static_cast<int32_t>(Held())), EventResult::Ok);
  const auto frames = delegate_.Frames();
  ASSERT_EQ(frames.size(), size_t{kFrames});
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].header, Frame(TPMT_HEART_BEAT, "beat-" + std::to_string(i))) << i;
  }
  EXPECT_EQ(server_.pauseCalls.size(), 2u);
  EXPECT_EQ(Held(), 3u);
}

TEST_F(TcpServiceEvents, ClosingAPausedConnectionReleasesItsWorkAndNeverResumesIt) {
  delegate_.keepTickets = true;
  std::string heartbeats;
  for (int i = 0; i <= ConnectionFlow::kTaskHigh; ++i) heartbeats += Frame(TPMT_HEART_BEAT, "b");
  ASSERT_EQ(Arrive(heartbeats), EventResult::Ok);
  ASSERT_TRUE(server_.paused[kId]);
  EXPECT_GT(service_.Ledger().Tasks(), 0);
  EXPECT_EQ(service_.OnClose(&server_, kId, net::SocketOp::Close, 0), EventResult::Ok);
  EXPECT_EQ(service_.Ledger().Held(), 0);
  // The tasks of a closed connection still finish; their end resumes nothing.
  delegate_.tickets.clear();
  EXPECT_EQ(server_.pauseCalls.size(), 1u);
  EXPECT_EQ(service_.Ledger().Held(), 0);
}

// Above the pressure mark a connection with work waits until all of it is done, and only for
// its own: one frame at a time each, so no connection waits on another.
TEST_F(TcpServiceEvents, UnderPressureEachConnectionHasOneFrameAtATime) {
  delegate_.keepTickets = true;
  ASSERT_EQ(Arrive(Frame(TPMT_REQUEST_API, "heavy", std::string(8 * kMiB, ' '))), EventResult::Ok);
  ASSERT_GE(service_.Ledger().Tasks(), ClientLedger::kPressureMark);
  constexpr uint32_t kOther = 41;
  ASSERT_EQ(service_.OnAccept(&server_, kOther, 0), EventResult::Ok);
  ASSERT_EQ(Arrive(Frame(TPMT_HEART_BEAT, "one") + Frame(TPMT_HEART_BEAT, "two"), kOther), EventResult::Ok);
  EXPECT_EQ(delegate_.Frames().size(), 2u);
  EXPECT_TRUE(server_.paused[kOther]);
  delegate_.tickets.pop_back();  // the heartbeat's work is done, the heavy request still runs
  EXPECT_FALSE(server_.paused[kOther]);
  ASSERT_EQ(service_.OnReceive(&server_, kOther, static_cast<int32_t>(Held(kOther))), EventResult::Ok);
  EXPECT_EQ(delegate_.Frames().size(), 3u);
  EXPECT_EQ(server_.pauseCalls.size(), 2u) << "the heavy request's connection was never paused";
}

TEST_F(TcpServiceEvents, OverTheBudgetTheConnectionWithTheLargestUnfinishedFrameIsClosed) {
  const auto announce = [&](uint32_t id, int32_t held) {
    EXPECT_EQ(service_.OnAccept(&server_, id, 0), EventResult::Ok);
    EXPECT_EQ(Arrive(Header(TPMT_REQUEST_API, "big", 0x7FFFFFFFu), id), EventResult::Ok);
    // The engine holds the bytes; nothing is fetched for an unfinished body.
    return service_.OnReceive(&server_, id, held);
  };
  ASSERT_EQ(announce(31, 60 * kMiB), EventResult::Ok);
  ASSERT_EQ(announce(32, 50 * kMiB), EventResult::Ok);
  ASSERT_EQ(announce(33, 30 * kMiB), EventResult::Ok);  // over 128 MiB: 31 is the largest
  EXPECT_EQ(server_.pauseCalls, (std::vector<std::pair<uint32_t, bool>>{{31, true}, {31, false}}));
  EXPECT_EQ(service_.Ledger().Received(), 80 * kMiB);
  EXPECT_EQ(log_.CountStartingWith(testing::kErrorTag, "TcpService OnReceive buffer limit"), 0);

  // Its receive event, announced again by the resume, refuses it once with the line.
  EXPECT_EQ(service_.OnReceive(&server_, 31, 60 * kMiB), EventResult::Error);
  EXPECT_EQ(service_.OnReceive(&server_, 31, 60 * kMiB), EventResult::Error);
  EXPECT_EQ(log_.Count(testing::kErrorTag,
                       "TcpService OnReceive buffer limit exceeded, connid=31, length=62914560"),
            1);

  // When the connection of the event holds the largest, its own event fails.
  EXPECT_EQ(announce(34, 51 * kMiB), EventResult::Error);
  EXPECT_EQ(log_.Count(testing::kErrorTag,
                       "TcpService OnReceive buffer limit exceeded, connid=34, length=53477376"),
            1);
  EXPECT_EQ(server_.pauseCalls.size(), 2u);
  EXPECT_EQ(service_.Ledger().Received(), 80 * kMiB);
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

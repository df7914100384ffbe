#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/clock.h"
#include "request/tcp_service.h"
#include "support/request/frame_client.h"
#include "support/request/frames.h"
#include "support/request/log_capture.h"
#include "support/request/recording_delegate.h"

namespace qolv {
namespace {

using testing::Frame;
using testing::FrameClient;
using testing::Header;

// A TcpService on a port of the system's choosing, with a delegate that records and never answers.
class TcpServiceOverTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = std::make_unique<TcpService>();
    ASSERT_TRUE(service_->Start(&delegate_, 0));
    ASSERT_NE(service_->Port(), 0);
  }

  void TearDown() override {
    if (service_) service_->Server()->Stop();
    service_.reset();
  }

  // The connection id of a client, learnt from a heartbeat it sends.
  uint32_t IdOf(FrameClient& client) {
    const size_t before = delegate_.Frames().size();
    EXPECT_TRUE(client.Send(Frame(TPMT_HEART_BEAT, "whoami")));
    EXPECT_TRUE(delegate_.WaitForFrames(before + 1));
    const auto frames = delegate_.Frames();
    return frames.size() > before ? frames[before].connectionId : 0;
  }

  testing::LogCapture log_;
  testing::RecordingDelegate delegate_;
  std::unique_ptr<TcpService> service_;
};

TEST_F(TcpServiceOverTcp, FramesArriveWholeHoweverTheBytesAreCut) {
  FrameClient client(service_->Port());
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  const std::string request = Frame(TPMT_REQUEST_API, "bytewise", R"({"action":"printer.list"})");
  const std::string heartbeat = Frame(TPMT_HEART_BEAT, "beat");
  for (char byte : request + heartbeat) ASSERT_TRUE(client.Send(std::string(1, byte)));
  ASSERT_TRUE(delegate_.WaitForFrames(2));

  const std::string three[] = {Frame(TPMT_RAW_MSG, "one", "1"), Frame(TPMT_REQUEST_API, "two"),
                               Frame(TPMT_RESPONSE_API, "three", "333")};
  ASSERT_TRUE(client.Send(three[0] + three[1] + three[2]));
  ASSERT_TRUE(delegate_.WaitForFrames(5));

  const std::string split = Frame(TPMT_REQUEST_API, "split", std::string(100, 'b'));
  ASSERT_TRUE(client.Send(split.substr(0, 30)));
  platform::SleepMs(100);  // time in which a partial frame must not come out
  EXPECT_EQ(delegate_.Frames().size(), 5u);
  ASSERT_TRUE(client.Send(split.substr(30, 40)));
  ASSERT_TRUE(client.Send(split.substr(70)));
  ASSERT_TRUE(delegate_.WaitForFrames(6));

  const auto frames = delegate_.Frames();
  ASSERT_EQ(frames.size(), 6u);
  const std::string expected[] = {request, heartbeat, three[0], three[1], three[2], split};
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].port, service_->Port());
    EXPECT_EQ(frames[i].connectionId, frames[0].connectionId);
    EXPECT_EQ(frames[i].header + frames[i].body, expected[i]);
    EXPECT_EQ(frames[i].bodyIsNull, expected[i].size() == FrameHeader::kSize);
  }
  EXPECT_TRUE(client.Quiet()) << "the delegate answers nothing, and the connection stays open";
}

TEST_F(TcpServiceOverTcp, ProtocolErrorsCloseTheConnectionWithoutDelivering) {
  std::string badMagic = Frame(TPMT_REQUEST_API, "bad", R"({"action":"printer.list"})");
  badMagic[0] = 'q';
  const std::string browser =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\n"
      "Accept: text/html,application/xhtml+xml\r\nConnection: keep-alive\r\n\r\n";
  const std::string cases[] = {Frame(TPMT_HEART_BEAT, "before") + badMagic,
                               Header(TPMT_REQUEST_API, "top-bit", 0x80000000u) + "{}", browser};
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.substr(0, 20));
    const size_t closedBefore = delegate_.Closed().size();
    FrameClient client(service_->Port());
    ASSERT_TRUE(client.Connected()) << client.ConnectError();
    ASSERT_TRUE(client.Send(bytes));
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_TRUE(client.Unread().empty());
    EXPECT_TRUE(delegate_.WaitForClosed(closedBefore + 1));
  }
  const auto frames = delegate_.Frames();
  ASSERT_EQ(frames.size(), 1u) << "only the frame in front of the bad one";
  EXPECT_EQ(frames[0].header, Frame(TPMT_HEART_BEAT, "before"));
}

TEST_F(TcpServiceOverTcp, AnAnnouncedBodyIsAwaitedUpToTheReceiveLimit) {
  FrameClient client(service_->Port());
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  const uint32_t id = IdOf(client);
  ASSERT_TRUE(client.Send(Header(TPMT_REQUEST_API, "huge", 0x7FFFFFFFu)));
  const std::string chunk(1 << 20, 'x');
  for (int i = 0; i < TcpService::kReceiveLimit / (1 << 20); ++i) ASSERT_TRUE(client.Send(chunk)) << i;
  EXPECT_TRUE(client.Quiet(300)) << "exactly the limit is still held";

  client.Send("x");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(log_.WaitFor(testing::kErrorTag, "TcpService OnReceive buffer limit exceeded, connid=" +
                                                   std::to_string(id) + ", length=67108865"));
  EXPECT_EQ(delegate_.Frames().size(), 1u);
}

TEST_F(TcpServiceOverTcp, EndedConnectionsAreReportedAndPartialFramesDropped) {
  FrameClient disconnected(service_->Port());
  ASSERT_TRUE(disconnected.Connected()) << disconnected.ConnectError();
  const uint32_t id = IdOf(disconnected);
  ASSERT_TRUE(service_->Disconnect(id));
  EXPECT_TRUE(disconnected.WaitClosed());
  ASSERT_TRUE(delegate_.WaitForClosed(2));
  EXPECT_EQ(delegate_.Closed(), (std::vector<uint32_t>{id, id})) << "by Disconnect and by the close event";

  FrameClient leaving(service_->Port());
  ASSERT_TRUE(leaving.Connected()) << leaving.ConnectError();
  const uint32_t leavingId = IdOf(leaving);
  ASSERT_TRUE(leaving.Send(Frame(TPMT_REQUEST_API, "cut", "0123456789").substr(0, 53)));
  leaving.Close();
  ASSERT_TRUE(delegate_.WaitForClosed(3));
  EXPECT_EQ(delegate_.Closed()[2], leavingId);
  EXPECT_EQ(delegate_.Frames().size(), 2u) << "the two heartbeats only";
}

}  // namespace
}  // namespace qolv

// The client against a small server of the test's own on 127.0.0.1, built on the platform's
// socket functions, so the same test runs on every target.
#include "client_exchange.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame_codec.h"
#include "support/platform/net_fixture.h"

namespace qolv::client {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::SocketHandle;
using platform::testing::kPatience;

class ClientExchangeTest : public platform::testing::NetFixture {
 protected:
  using Serve = std::function<void(SocketHandle server, const CutFrame& request)>;

  // Runs the exchange against the listener on another thread; this thread accepts the
  // connection, reads the whole request and lets serve answer it.
  ExchangeResult Run(const Bytes& frame, uint32_t timeoutMs, const Serve& serve) {
    Listen();
    platform::testing::IoRecord record;
    EXPECT_EQ(BeginAccept(record), 0u);
    ExchangeResult result;
    std::thread client(
        [&] { result = Exchange("127.0.0.1", AddressPort(listenAddress_), frame, timeoutMs); });
    const platform::Completion accepted = Next();
    if (accepted.ok) {
      const SocketHandle server = Own(record.accepted);
      Bytes received;
      CutFrame request = ReadFrame(server, received);
      if (request.status == CutStatus::kFrame) serve(server, request);
    }
    client.join();
    return result;
  }

  // Reads until one whole frame is there (or the peer stops sending).
  static CutFrame ReadFrame(SocketHandle socket, Bytes& received) {
    char chunk[4096];
    for (int reads = 0; reads < 1000; ++reads) {
      const CutFrame cut = CutNextFrame(received.data(), received.size());
      if (cut.status != CutStatus::kNeedMore) return cut;
      uint32_t count = 0;
      if (platform::ReceiveBlocking(socket, chunk, sizeof chunk, &count, kPatience) != 0 || count == 0) break;
      received.insert(received.end(), chunk, chunk + count);
    }
    ADD_FAILURE() << "no whole request frame arrived";
    return CutFrame{};
  }

  static void Send(SocketHandle socket, const Bytes& bytes) {
    EXPECT_EQ(platform::SendBlocking(socket, reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<uint32_t>(bytes.size()), kPatience),
              0u);
  }

  // The answer the service would give: request type + 100, the request's id.
  static Bytes AnswerTo(const CutFrame& request, const std::string& body) {
    return BuildFrame(static_cast<uint8_t>(request.header.type + 100), request.header.messageId, 1, body);
  }

  const MessageId id_ = NewMessageId();
};

TEST_F(ClientExchangeTest, ReceivesTheAnswerToItsRequest) {
  const std::string answerBody = R"({"printers":["A","B"]})";
  const ExchangeResult result =
      Run(BuildFrame(TPMT_RAW_MSG, id_.data(), 0, RequestBody("printer.list", "")), kPatience,
          [&](SocketHandle server, const CutFrame& request) {
            EXPECT_EQ(request.header.type, TPMT_RAW_MSG);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.body), request.bodyLength),
                      R"({"action":"printer.list","param":""})");
            // Header and body in separate sends, so the client must put the answer together.
            const Bytes answer = AnswerTo(request, answerBody);
            Send(server, Bytes(answer.begin(), answer.begin() + 30));
            Send(server, Bytes(answer.begin() + 30, answer.end()));
          });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.answer.type, TPMT_ACK_RAW_MSG);
  EXPECT_EQ(Bytes(result.answer.messageId, result.answer.messageId + 32), Bytes(id_.begin(), id_.end()));
  EXPECT_EQ(result.body, answerBody);
}

TEST_F(ClientExchangeTest, HeartbeatIsAcknowledgedWithAnEmptyBody) {
  const ExchangeResult result = Run(BuildFrame(TPMT_HEART_BEAT, id_.data(), 0, ""), kPatience,
                                    [&](SocketHandle server, const CutFrame& request) {
                                      EXPECT_EQ(request.bodyLength, 0u);
                                      Send(server, AnswerTo(request, ""));
                                    });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.answer.type, TPMT_ACK_HEART_BEAT);
  EXPECT_TRUE(result.body.empty());
}

// Answers that are not the answer to this request are errors, not output.
TEST_F(ClientExchangeTest, RejectsAnswersThatAreNotItsOwn) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> spoil;
  };
  const Case cases[] = {
      {"bad frame: the answer does not start", [](Bytes& a) { a[0] = 'X'; }},
      {"bad frame: the answer carries message id", [](Bytes& a) { a[10] ^= 1; }},
      {"bad frame: answer type 101 to a frame of type 0", [](Bytes& a) { a[3] = TPMT_ACK_HEART_BEAT; }},
      {"bad frame: answer body length 2147483648",
       [](Bytes& a) { WriteBigEndian32(a.data() + 44, 0x80000000u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ExchangeResult result =
        Run(BuildFrame(TPMT_REQUEST_API, id_.data(), 0, RequestBody("printer.list", "")), kPatience,
            [&](SocketHandle server, const CutFrame& request) {
              Bytes answer = AnswerTo(request, "{}");
              c.spoil(answer);
              Send(server, answer);
            });
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(c.what), std::string::npos) << result.error;
    TearDown();
    SetUp();
  }
}

TEST_F(ClientExchangeTest, ReportsASilentOrClosingServer) {
  const Bytes frame = BuildFrame(TPMT_REQUEST_API, id_.data(), 0, RequestBody("printer.init", "x"));
  const ExchangeResult silent = Run(frame, 300, [](SocketHandle, const CutFrame&) {});
  EXPECT_FALSE(silent.ok);
  EXPECT_NE(silent.error.find("no answer from 127.0.0.1:"), std::string::npos) << silent.error;
  TearDown();
  SetUp();

  const ExchangeResult closed =
      Run(frame, kPatience, [&](SocketHandle server, const CutFrame&) { Close(server); });
  EXPECT_FALSE(closed.ok);
  EXPECT_NE(closed.error.find("closed the connection before answering"), std::string::npos) << closed.error;
}

TEST_F(ClientExchangeTest, ReportsARefusedConnection) {
  Listen();
  const uint16_t port = AddressPort(listenAddress_);
  Close(listener_);
  const ExchangeResult result =
      Exchange("127.0.0.1", port, BuildFrame(TPMT_HEART_BEAT, id_.data(), 0, ""), kPatience);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("connection refused by 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << result.error;
  EXPECT_NE(Exchange("printer-host", 9199, BuildFrame(TPMT_HEART_BEAT, id_.data(), 0, ""), 100)
                .error.find("not an IPv4 or IPv6 address"),
            std::string::npos);
}

}  // namespace
}  // namespace qolv::client

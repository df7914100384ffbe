#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "protocol/outgoing_frame.h"
#include "request/connection_flow.h"
#include "support/request/frame_client.h"
#include "support/request/service_fixture.h"

namespace qolv {
namespace {

using testing::Answer;
using testing::Frame;
using testing::FrameClient;
using testing::RequestBody;

std::map<std::string, Answer> ById(const std::vector<Answer>& answers) {
  std::map<std::string, Answer> byId;
  for (const Answer& answer : answers) byId[answer.Id()] = answer;
  return byId;
}

std::string Envelope(int code, const std::string& message) {
  return R"({"result":0,"errCode":")" + std::to_string(code) + R"(","errMsg":")" + message +
         R"(","data":""})";
}

class ProxyAnswers : public testing::ServiceFixture {};

TEST_F(ProxyAnswers, HeartbeatsAndMalformedRequestsGetTheirFixedAnswers) {
  FrameClient client(Port());
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  // Every id byte comes back, zeros inside included.
  const std::string beatId("beat\0with a zero, 32 bytes long", 32);
  ASSERT_TRUE(client.Send(Frame(TPMT_HEART_BEAT, beatId)));
  const auto beat = client.Read(1);
  ASSERT_EQ(beat.size(), 1u);
  ExpectAnswer(beat[0], TPMT_ACK_HEART_BEAT, beatId, "");

  for (uint8_t type : {TPMT_REQUEST_API, TPMT_RAW_MSG}) {
    SCOPED_TRACE(static_cast<int>(type));
    const uint8_t reply = ReplyTypeFor(type);
    ASSERT_TRUE(client.Send(Frame(type, "array", "[]") + Frame(type, "trailing", "{} x") +
                            Frame(type, "empty-object", "{}") +
                            Frame(type, "case", RequestBody("Printer.list", "")) +
                            Frame(type, "space", RequestBody("printer.list ", "")) +
                            Frame(type, "no-text", RequestBody("printer.list", "null"))));
    auto answers = ById(client.Read(6));
    ASSERT_EQ(answers.size(), 6u);
    ExpectAnswer(answers["array"], reply, "array", Envelope(1, "param error"));
    ExpectAnswer(answers["trailing"], reply, "trailing", Envelope(1, "param error"));
    ExpectAnswer(answers["empty-object"], reply, "empty-object", Envelope(2, "unknow cmd"));
    ExpectAnswer(answers["case"], reply, "case", Envelope(2, "unknow cmd"));
    ExpectAnswer(answers["space"], reply, "space", Envelope(2, "unknow cmd"));
    ExpectAnswer(answers["no-text"], reply, "no-text", Envelope(1, "malloc memory exception"));
  }
  EXPECT_TRUE(client.Quiet());
}

TEST_F(ProxyAnswers, TheSdkTextIsSentUnchangedAndHandedBackOnce) {
  FrameClient client(Port());
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  const std::string tricky = "{\"q\":\"a \\\"b\\\" c:\\\\d\"}\r\n\xC3\xA9\t end";
  ASSERT_TRUE(client.Send(Frame(TPMT_REQUEST_API, "text", RequestBody("printer.list", "text=" + tricky)) +
                          Frame(TPMT_RAW_MSG, "raw-text", RequestBody("printer.add", "text=" + tricky)) +
                          Frame(TPMT_REQUEST_API, "empty", RequestBody("printer.delete", "empty"))));
  // Without "param", or with a param that is no string, the SDK sees an empty text.
  ASSERT_TRUE(client.Send(Frame(TPMT_REQUEST_API, "list", R"({"action":"printer.list"})") +
                          Frame(TPMT_RAW_MSG, "init", R"({"action":"printer.init","param":{"a":1}})") +
                          Frame(TPMT_REQUEST_API, "add", RequestBody("printer.add", tricky)) +
                          Frame(TPMT_RAW_MSG, "delete", RequestBody("printer.delete", "{\"name\":\"K\"}"))));
  auto answers = ById(client.Read(7));
  ASSERT_EQ(answers.size(), 7u);
  ExpectAnswer(answers["text"], TPMT_RESPONSE_API, "text", tricky);
  ExpectAnswer(answers["raw-text"], TPMT_ACK_RAW_MSG, "raw-text", tricky);
  ExpectAnswer(answers["empty"], TPMT_RESPONSE_API, "empty", "");
  ExpectAnswer(answers["list"], TPMT_RESPONSE_API, "list", "getLocalPrinterList|");
  ExpectAnswer(answers["init"], TPMT_ACK_RAW_MSG, "init", "initPrinterProxy|");
  ExpectAnswer(answers["add"], TPMT_RESPONSE_API, "add", "addPrinterProxy|" + tricky);
  ExpectAnswer(answers["delete"], TPMT_ACK_RAW_MSG, "delete", "deletePrinterProxy|{\"name\":\"K\"}");

  const FakeSdkCounters counters = sdk_.CountersWhen([](const FakeSdkCounters& c) { return c.frees >= 7; });
  EXPECT_EQ(counters.calls, 7);
  EXPECT_EQ(counters.frees, 7);
  EXPECT_EQ(counters.strayFrees, 0);
  EXPECT_EQ(counters.outstanding, 0);
}

TEST_F(ProxyAnswers, FramesThatGetNoAnswerAreOnlyLogged) {
  FrameClient client(Port());
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  const std::string acceptPrefix = "TcpService OnAccept: connid=";
  ASSERT_TRUE(log_.WaitForPrefix(testing::kInfoTag, acceptPrefix));
  const std::string accept = log_.FindStartingWith(testing::kInfoTag, acceptPrefix);
  const std::string connid = accept.substr(acceptPrefix.size(), accept.find(';') - acceptPrefix.size());
  const std::string port = std::to_string(Port());

  ASSERT_TRUE(client.Send(Frame(TPMT_REQUEST_API, "e0") + Frame(TPMT_RAW_MSG, "e2") +
                          Frame(TPMT_RESPONSE_API, "r100", R"({"result":1})") +
                          Frame(TPMT_ACK_RAW_MSG, "r102", "ok") + Frame(TPMT_HEART_BEAT, "hb-body", "{}") +
                          Frame(7, "seven", "{}") +
                          Frame(TPMT_REQUEST_API, "refused", RequestBody("printer.list", "refuse"))));
  using testing::kErrorTag;
  EXPECT_TRUE(log_.WaitFor(kErrorTag, "TcpDataTask exception, empty unknow message, type=?,0, port=" + port));
  EXPECT_TRUE(log_.WaitFor(kErrorTag, "TcpDataTask exception, empty unknow message, type=?,2, port=" + port));
  EXPECT_TRUE(log_.WaitFor(testing::kInfoTag, "TPMT_RESPONSE_API, connid=" + connid +
                                                  ", messageid=r100, param={\"result\":1}, port=" + port));
  EXPECT_TRUE(log_.WaitFor(
      testing::kInfoTag, "TPMT_ACK_RAW_MSG, connid=" + connid + ", messageid=r102, param=ok, port=" + port));
  EXPECT_TRUE(
      log_.WaitFor(kErrorTag, "TcpDataTask exception, normal unhandle message, type=?,1, port=" + port));
  EXPECT_TRUE(
      log_.WaitFor(kErrorTag, "TcpDataTask exception, normal unhandle message, type=?,7, port=" + port));
  EXPECT_TRUE(log_.WaitFor(
      kErrorTag, "QolvMerelDevicePlugin::InvokeMethodBySDK failed, unknow api, method=getLocalPrinterList"));

  // Every frame above has been dealt with, so the first answer must be this heartbeat's.
  ASSERT_TRUE(client.Send(Frame(TPMT_HEART_BEAT, "after")));
  const auto answers = client.Read(1);
  ASSERT_EQ(answers.size(), 1u);
  ExpectAnswer(answers[0], TPMT_ACK_HEART_BEAT, "after", "");
  EXPECT_TRUE(client.Quiet());
  EXPECT_EQ(sdk_.Counters().frees, 0);
}

TEST_F(ProxyAnswers, FourSdkCallsRunAtOnceAndAFifthWaitsForAWorker) {
  FrameClient client(Port());
  ASSERT_TRUE(client.Connected()) << client.ConnectError();
  std::string requests;
  // The four return only once all of them are inside the SDK together.
  for (const char* id : {"A", "B", "C", "D"}) {
    requests += Frame(TPMT_REQUEST_API, id, RequestBody("printer.list", std::string("gather=4;text=") + id));
  }
  requests += Frame(TPMT_RAW_MSG, "E", RequestBody("printer.list", "text=E"));
  ASSERT_TRUE(client.Send(requests));

  const auto answers = client.Read(5);
  ASSERT_EQ(answers.size(), 5u);
  EXPECT_NE(answers[0].Id(), "E") << "the fifth starts only after one of the four has answered";
  for (const Answer& answer : answers) {
    EXPECT_EQ(answer.body, answer.Id()) << "answers are paired with their requests by id";
    EXPECT_EQ(answer.Type(), answer.Id() == "E" ? TPMT_ACK_RAW_MSG : TPMT_RESPONSE_API);
  }
  const FakeSdkCounters counters = sdk_.CountersWhen([](const FakeSdkCounters& c) { return c.frees >= 5; });
  EXPECT_EQ(counters.maxInFlight, 4);
  EXPECT_EQ(counters.frees, 5);
  EXPECT_EQ(counters.outstanding, 0);
}

TEST_F(ProxyAnswers, AnswersGoBackOnTheConnectionOfTheirRequest) {
  FrameClient first(Port()), second(Port());
  ASSERT_TRUE(first.Connected() && second.Connected());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(
        first.Send(Frame(TPMT_REQUEST_API, "1-" + std::to_string(i), RequestBody("printer.list", "x"))));
    ASSERT_TRUE(
        second.Send(Frame(TPMT_REQUEST_API, "2-" + std::to_string(i), RequestBody("printer.add", "y"))));
  }
  for (auto* client : {&first, &second}) {
    const auto answers = client->Read(3);
    ASSERT_EQ(answers.size(), 3u);
    for (const Answer& answer : answers) {
      const bool isFirst = client == &first;
      EXPECT_EQ(answer.Id().substr(0, 2), isFirst ? "1-" : "2-");
      EXPECT_EQ(answer.body, isFirst ? "getLocalPrinterList|x" : "addPrinterProxy|y");
    }
    EXPECT_TRUE(client->Quiet());
  }
}

// A client that writes far more than it reads is held at its high mark: the rest of its frames
// wait unread, another client is served in between, and the flooder gets every answer once.
TEST_F(ProxyAnswers, AFloodIsHeldBackWhileAnotherClientIsServedAndEveryAnswerArrivesOnce) {
  FrameClient flooder(Port()), other(Port());
  ASSERT_TRUE(flooder.Connected() && other.Connected());
  constexpr int kFlood = 2000;  // half a second of work for the four workers
  std::string flood;
  for (int i = 0; i < kFlood; ++i) flood += Frame(TPMT_HEART_BEAT, "f" + std::to_string(i));
  ASSERT_TRUE(flooder.Send(flood));
  for (int waited = 0; waited < 3000 && service_->Worker().QueuedCount() == 0; ++waited) platform::SleepMs(1);

  ASSERT_TRUE(other.Send(Frame(TPMT_HEART_BEAT, "other")));
  const auto answer = other.Read(1);
  const size_t queuedThen = service_->Worker().QueuedCount();
  ASSERT_EQ(answer.size(), 1u);
  ExpectAnswer(answer[0], TPMT_ACK_HEART_BEAT, "other", "");
  EXPECT_GT(queuedThen, 0u) << "the other client waited for the whole flood";
  EXPECT_LE(queuedThen, size_t{ConnectionFlow::kTaskHigh}) << "the flood was not held back";

  std::set<std::string> ids;
  for (const Answer& beat : flooder.Read(kFlood)) {
    EXPECT_EQ(beat.Type(), TPMT_ACK_HEART_BEAT);
    EXPECT_TRUE(ids.insert(beat.Id()).second) << "answered twice: " << beat.Id();
  }
  EXPECT_EQ(ids.size(), size_t{kFlood});
  EXPECT_TRUE(flooder.Quiet());
  // The last tasks end just after their answers left.
  const ClientLedger& ledger = service_->Tcp().Ledger();
  for (int waited = 0; waited < 3000 && ledger.Tasks() + ledger.Unsent() != 0; ++waited) platform::SleepMs(1);
  EXPECT_EQ(ledger.Tasks() + ledger.Unsent(), 0);
}

}  // namespace
}  // namespace qolv

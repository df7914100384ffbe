#include "request/tcp_data_task.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/dynamic_library.h"
#include "request/printer_proxy_service.h"
#include "support/request/frames.h"
#include "support/request/log_capture.h"

namespace qolv {
namespace {

using testing::kErrorTag;
using testing::kInfoTag;
using testing::kWarnTag;

// The service's server never starts here, so every answer fails to send; the send failure's
// line tells which answer was attempted.
class TcpDataTaskRun : public ::testing::Test {
 protected:
  void Run(uint8_t type, const std::string& id, const std::string& body, uint16_t port = kPort) {
    const std::string header = testing::Header(type, id, static_cast<uint32_t>(body.size()));
    auto session = std::make_unique<TcpRequestSession>(port, 5, header.data(), body.data(),
                                                       static_cast<uint32_t>(body.size()));
    TcpDataTask(service_, std::move(session)).Run();
  }

  int Attempts(const std::string& id, int type, uint16_t port = kPort) {
    return log_.Count(kErrorTag, "TcpServer Send failed, msgid=" + id + ", msgtype=" + std::to_string(type) +
                                     ", port=" + std::to_string(port));
  }
  int AllAttempts() { return log_.CountStartingWith(kErrorTag, "TcpServer Send failed"); }

  static constexpr uint16_t kPort = 4321;
  testing::LogCapture log_;
  PrinterProxyService service_{platform::PathBesideExecutable("NoSuchSdk.so")};
};

TEST_F(TcpDataTaskRun, AFailedHeartbeatAnswerDisconnectsOnlyOnTheServicePort) {
  Run(TPMT_HEART_BEAT, "beat", "", TcpService::kServicePort);
  EXPECT_EQ(Attempts("beat", TPMT_ACK_HEART_BEAT, TcpService::kServicePort), 1);
  EXPECT_EQ(log_.CountStartingWith(kErrorTag, "TcpService DisconnectFailed"), 1);
  EXPECT_EQ(log_.Count(kWarnTag, "TPMT_HEART_BEAT send data fail, disconnect result=0"), 1);

  Run(TPMT_HEART_BEAT, "other", "");
  EXPECT_EQ(Attempts("other", TPMT_ACK_HEART_BEAT), 1);
  EXPECT_EQ(log_.CountStartingWith(kErrorTag, "TcpService DisconnectFailed"), 1);
  EXPECT_EQ(log_.Count(kWarnTag, "TPMT_HEART_BEAT send data fail, disconnect result=0"), 2);
}

TEST_F(TcpDataTaskRun, RequestsOfBothTypesAreAnsweredWithTheirReplyType) {
  Run(TPMT_REQUEST_API, "not-object", "[1]");
  EXPECT_EQ(log_.Count(kErrorTag, "TcpRequestSession exception, body parse failed, data=[1]"), 1);
  EXPECT_EQ(Attempts("not-object", TPMT_RESPONSE_API), 1);
  Run(TPMT_RAW_MSG, "unknown", R"({"action":"printer.List"})");
  EXPECT_EQ(Attempts("unknown", TPMT_ACK_RAW_MSG), 1);
  Run(TPMT_RAW_MSG, "known", R"({"action":"printer.delete","param":"p"})");
  EXPECT_EQ(log_.Count(
                kErrorTag,
                "QolvMerelDevicePlugin::InvokeMethodBySDK failed, sdk not loaded, method=deletePrinterProxy"),
            1);
  EXPECT_EQ(Attempts("known", TPMT_ACK_RAW_MSG), 1);
  EXPECT_EQ(AllAttempts(), 3);
}

// The socket tests see the common cases; these are the type characters and ids they do not.
TEST_F(TcpDataTaskRun, FramesThatGetNoAnswerAreLogged) {
  Run('A', "eA", "");
  Run(TPMT_ACK_RAW_MSG, std::string("ack\0tail", 8), "raw");
  Run('z', "z", "{}");
  Run(200, "high", "{}");

  EXPECT_EQ(AllAttempts(), 0);
  EXPECT_EQ(log_.Count(kErrorTag, "TcpDataTask exception, empty unknow message, type=A,65, port=4321"), 1);
  EXPECT_EQ(log_.Count(kInfoTag, "TPMT_ACK_RAW_MSG, connid=5, messageid=ack, param=raw, port=4321"), 1);
  EXPECT_EQ(log_.Count(kErrorTag, "TcpDataTask exception, normal unhandle message, type=z,122, port=4321"),
            1);
  EXPECT_EQ(log_.Count(kErrorTag, "TcpDataTask exception, normal unhandle message, type=?,200, port=4321"),
            1);
}

}  // namespace
}  // namespace qolv

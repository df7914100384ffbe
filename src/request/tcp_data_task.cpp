#include "request/tcp_data_task.h"

#include "log/logger.h"
#include "request/printer_proxy_service.h"

namespace qolv {
namespace {

// The type is logged as a character too; a zero byte there would end the log line early and
// hide the number and port behind it, so unprintable types show as '?'.
int TypeCharacter(uint8_t type) { return type >= 0x20 && type < 0x7F ? type : '?'; }

}  // namespace

TcpDataTask::TcpDataTask(PrinterProxyService& service, std::unique_ptr<TcpRequestSession> session,
                         WorkTicket ticket)
    : service_(service), session_(std::move(session)), ticket_(std::move(ticket)) {}

void TcpDataTask::Run() {
  if (session_->Body().empty()) {
    RunEmptyBody();
  } else {
    RunWithBody();
  }
}

void TcpDataTask::RunEmptyBody() {
  const uint8_t type = session_->Type();
  if (type != TPMT_HEART_BEAT) {
    Logger::Instance().Print(DBG_ERROR, "TcpDataTask exception, empty unknow message, type=%c,%d, port=%d",
                             TypeCharacter(type), type, session_->LocalPort());
    return;
  }
  if (service_.SendHeartBeatAck(*session_)) return;
  // Only connections of the service's own port are dropped for a lost heartbeat answer.
  bool disconnected = false;
  if (session_->LocalPort() == TcpService::kServicePort) {
    disconnected = service_.Tcp().Disconnect(session_->ConnectionId());
  }
  Logger::Instance().Print(DBG_WARN, "TPMT_HEART_BEAT send data fail, disconnect result=%d",
                           disconnected ? 1 : 0);
}

void TcpDataTask::RunWithBody() {
  const uint8_t type = session_->Type();
  switch (type) {
    case TPMT_REQUEST_API:
    case TPMT_RAW_MSG:
      if (!session_->Parse()) {
        service_.SendErrorResponse(*session_, 1, "param error");
      } else if (!service_.HandleRequest(*session_)) {
        service_.SendErrorResponse(*session_, 2, "unknow cmd");
      }
      return;
    case TPMT_RESPONSE_API:
    case TPMT_ACK_RAW_MSG:
      Logger::Instance().Print(DBG_INFO, "%s, connid=%lu, messageid=%s, param=%s, port=%d",
                               type == TPMT_RESPONSE_API ? "TPMT_RESPONSE_API" : "TPMT_ACK_RAW_MSG",
                               static_cast<unsigned long>(session_->ConnectionId()),
                               session_->Header().MessageIdText().c_str(), session_->Body().c_str(),
                               session_->LocalPort());
      return;
    default:
      Logger::Instance().Print(DBG_ERROR,
                               "TcpDataTask exception, normal unhandle message, type=%c,%d, port=%d",
                               TypeCharacter(type), type, session_->LocalPort());
  }
}

}  // namespace qolv

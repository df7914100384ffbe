#include "request/printer_proxy_service.h"

#include <cstring>
#include <memory>

#include "log/logger.h"
#include "platform/dynamic_library.h"
#include "protocol/outgoing_frame.h"
#include "protocol/reply_envelope.h"
#include "request/tcp_data_task.h"
#include "request/tcp_request_session.h"

namespace qolv {
namespace {

struct MethodEntry {
  const char* action;
  const char* sdkApi;
};

constexpr MethodEntry kMethodMap[] = {
    {"printer.list", "getLocalPrinterList"},
    {"printer.init", "initPrinterProxy"},
    {"printer.add", "addPrinterProxy"},
    {"printer.delete", "deletePrinterProxy"},
};

}  // namespace

PrinterProxyService& PrinterProxyService::Instance() {
  static PrinterProxyService instance(platform::PathBesideExecutable(platform::kSdkLibraryFileName));
  return instance;
}

PrinterProxyService::PrinterProxyService(std::string sdkLibraryPath) : plugin_(std::move(sdkLibraryPath)) {}

PrinterProxyService::~PrinterProxyService() { worker_.WaitForWorkers(); }

void PrinterProxyService::OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header,
                                    const uint8_t* body, int32_t bodyLength) {
  auto session = std::make_unique<TcpRequestSession>(localPort, connectionId, header, body,
                                                     static_cast<uint32_t>(bodyLength));
  // One lane per connection: a flooding client cannot push another client's frames back.
  worker_.Post(std::make_unique<TcpDataTask>(*this, std::move(session), tcp_.TakeWorkTicket()), connectionId);
}

const char* PrinterProxyService::SdkApiFor(const std::string& action) {
  for (const MethodEntry& entry : kMethodMap) {
    if (action == entry.action) return entry.sdkApi;
  }
  return nullptr;
}

bool PrinterProxyService::HandleRequest(const TcpRequestSession& session) {
  const char* sdkApi = SdkApiFor(session.Action());
  if (sdkApi == nullptr) return false;
  plugin_.InvokeMethodBySDK(*this, session, sdkApi);
  return true;
}

bool PrinterProxyService::SendFrame(uint16_t localPort, uint32_t connectionId, const OutgoingFrame& frame) {
  if (tcp_.Send(connectionId, frame.Data(), frame.TotalLength())) return true;
  Logger::Instance().Print(DBG_ERROR, "TcpServer Send failed, msgid=%s, msgtype=%d, port=%d",
                           frame.Header().MessageIdText().c_str(), frame.Header().type, localPort);
  return false;
}

bool PrinterProxyService::SendHeartBeatAck(const TcpRequestSession& session) {
  const OutgoingFrame frame(session.Header(), nullptr, 0, ReplyTypeFor(session.Type()));
  return SendFrame(session.LocalPort(), session.ConnectionId(), frame);
}

void PrinterProxyService::SendResponse(const TcpRequestSession& session, const char* response) {
  const OutgoingFrame frame(session.Header(), response, static_cast<uint32_t>(std::strlen(response)),
                            ReplyTypeFor(session.Type()));
  SendFrame(session.LocalPort(), session.ConnectionId(), frame);
}

void PrinterProxyService::SendErrorResponse(const TcpRequestSession& session, int32_t code,
                                            const char* message) {
  const std::string body = ReplyEnvelope::ForError(code, message).ToJson();
  const OutgoingFrame frame(session.Header(), body.data(), static_cast<uint32_t>(body.size()),
                            ReplyTypeFor(session.Type()));
  SendFrame(session.LocalPort(), session.ConnectionId(), frame);
}

}  // namespace qolv

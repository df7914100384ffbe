#include "request/tcp_request_session.h"

#include <rapidjson/document.h>

#include "log/logger.h"
#include "request/read_string_member.h"

namespace qolv {

TcpRequestSession::TcpRequestSession(uint16_t localPort, uint32_t connectionId, const void* header,
                                     const void* body, uint32_t bodyLength)
    : header_(FrameHeader::FromBytes(header)), connectionId_(connectionId), localPort_(localPort) {
  if (body != nullptr && bodyLength != 0) body_.assign(static_cast<const char*>(body), bodyLength);
}

bool TcpRequestSession::Parse() {
  rapidjson::Document document;
  // The body is read as a zero-terminated text: anything behind a zero byte is not part of it.
  document.Parse(body_.c_str());
  if (document.HasParseError() || !document.IsObject()) {
    Logger::Instance().Print(DBG_ERROR, "TcpRequestSession exception, body parse failed, data=%s",
                             body_.c_str());
    return false;
  }
  ReadStringMember(document, "action", action_);
  ReadStringMember(document, "param", param_);
  return true;
}

}  // namespace qolv

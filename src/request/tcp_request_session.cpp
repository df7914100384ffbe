#include "request/tcp_request_session.h"

#include <rapidjson/document.h>

#include "log/logger.h"
#include "request/read_string_member.h"

namespace qolv {
namespace {

// A request is a flat object; this much nesting is never needed and keeps the parser's
// recursion, which runs on a task worker's stack, far from overflowing it.
constexpr int kMaxNesting = 256;

// True when arrays and objects nest deeper than kMaxNesting before the text's zero byte.
// Brackets inside strings do not count; whether the text is JSON at all is the parser's job.
bool NestsTooDeep(const char* text) {
  int depth = 0;
  bool inString = false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (inString) {
      if (*p == '\\' && p[1] != '\0') {
        ++p;
      } else if (*p == '"') {
        inString = false;
      }
    } else if (*p == '"') {
      inString = true;
    } else if (*p == '[' || *p == '{') {
      if (++depth > kMaxNesting) return true;
    } else if (*p == ']' || *p == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

TcpRequestSession::TcpRequestSession(uint16_t localPort, uint32_t connectionId, const void* header,
                                     const void* body, uint32_t bodyLength)
    : header_(FrameHeader::FromBytes(header)), connectionId_(connectionId), localPort_(localPort) {
  if (body != nullptr && bodyLength != 0) body_.assign(static_cast<const char*>(body), bodyLength);
}

bool TcpRequestSession::Parse() {
  rapidjson::Document document;
  // The body is read as a zero-terminated text: anything behind a zero byte is not part of it.
  if (!NestsTooDeep(body_.c_str())) document.Parse(body_.c_str());
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

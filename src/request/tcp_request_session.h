#pragma once
#include <cstdint>
#include <string>

#include "protocol/frame_header.h"

namespace qolv {

// One received frame. It owns copies of the header and body, so the receiving side may reuse
// its buffers as soon as the session exists.
class TcpRequestSession {
 public:
  // header points to FrameHeader::kSize bytes; body may be null when bodyLength is 0.
  TcpRequestSession(uint16_t localPort, uint32_t connectionId, const void* header, const void* body,
                    uint32_t bodyLength);

  // Reads the JSON object in the body into Action() and Param(). False, with a log line, when
  // the body up to its first zero byte is not exactly one JSON object.
  bool Parse();

  const FrameHeader& Header() const { return header_; }
  uint8_t Type() const { return header_.type; }
  const std::string& Body() const { return body_; }
  uint32_t ConnectionId() const { return connectionId_; }
  uint16_t LocalPort() const { return localPort_; }
  const std::string& Action() const { return action_; }
  const std::string& Param() const { return param_; }

 private:
  FrameHeader header_;
  std::string body_;
  uint32_t connectionId_;
  uint16_t localPort_;
  std::string action_;
  std::string param_;
};

}  // namespace qolv

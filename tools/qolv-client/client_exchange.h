#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame_header.h"

namespace qolv::client {

using MessageId = std::array<uint8_t, FrameHeader::kMessageIdSize>;

// A fresh id of 32 random hexadecimal characters, so that the log lines of the service can
// show it as text.
MessageId NewMessageId();

// The JSON body of a request: {"action":...,"param":...} with both texts escaped.
std::string RequestBody(std::string_view action, std::string_view param);

// A client takes no answer body larger than this; a longer one is taken as a bad frame.
inline constexpr uint32_t kMaxAnswerBody = 64u << 20;

struct ExchangeResult {
  bool ok = false;
  std::string error;  // what went wrong, when !ok
  FrameHeader answer{};
  std::string body;
};

// Connects to host:port, sends the frame and reads the answer carrying the frame's message id
// and the type the server answers it with; all within timeoutMs. host is an IPv4 or IPv6
// address text, or "localhost".
ExchangeResult Exchange(const std::string& host, uint16_t port, const std::vector<uint8_t>& frame,
                        uint32_t timeoutMs);

}  // namespace qolv::client

#pragma once
#include <cstdint>
#include <memory>

#include "protocol/frame_header.h"
#include "request/connection_flow.h"

namespace qolv {

// Where one connection stands in cutting its byte stream into frames. It lives from the
// connection's accept to its close and is only touched under the connection's receive lock.
struct ReceiveState {
  bool expectingHeader = true;
  // The size of the next unit to take: a header, or the body the last header announced.
  int32_t expectedLength = static_cast<int32_t>(FrameHeader::kSize);
  FrameHeader header = FrameHeader::ReplyTemplate();
  // The connection's outstanding work, shared with the tickets of its frames.
  std::shared_ptr<ConnectionFlow> flow;
};

}  // namespace qolv

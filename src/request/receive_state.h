#pragma once
#include <cstdint>

#include "request/frame_header.h"

namespace qolv {

// Where one connection stands in cutting its byte stream into frames. It lives from the
// connection's accept to its close and is only touched under the connection's receive lock.
struct ReceiveState {
  bool expectingHeader = true;
  // The size of the next unit to take: a header, or the body the last header announced.
  int32_t expectedLength = static_cast<int32_t>(FrameHeader::kSize);
  FrameHeader header = FrameHeader::ReplyTemplate();
};

}  // namespace qolv

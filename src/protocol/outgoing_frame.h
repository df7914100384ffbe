#pragma once
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "protocol/frame_header.h"

namespace qolv {

// The answer type for a request type; only 0, 1 and 2 get answers (100, 101, 102).
constexpr uint8_t ReplyTypeFor(uint8_t requestType) { return static_cast<uint8_t>(requestType + 100); }

// An answer frame ready to send: header and body in one owned buffer.
class OutgoingFrame {
 public:
  // Builds the answer to the request with this header, with the given type and body (body may be
  // null or bodyLength 0 for an empty body). now is the local time stamped into the header.
  // Throws std::length_error when the frame would not fit a signed 32-bit length.
  OutgoingFrame(const FrameHeader& request, const void* body, uint32_t bodyLength, uint8_t type,
                const platform::LocalTime& now = platform::LocalNow());

  // Milliseconds since 1970 UTC of a local time, daylight saving decided by the C library.
  static uint64_t TimestampMs(const platform::LocalTime& localTime);

  const FrameHeader& Header() const { return header_; }
  const uint8_t* Data() const { return buffer_.get(); }
  // The number of bytes to hand to the send operation: header plus body.
  int32_t TotalLength() const { return totalLength_; }

 private:
  FrameHeader header_;
  std::unique_ptr<uint8_t[]> buffer_;
  int32_t totalLength_;
};

}  // namespace qolv

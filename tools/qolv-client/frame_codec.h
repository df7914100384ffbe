#pragma once
// Frames as a client sees them: the header of a frame it sends, and the cutting of the bytes it
// receives into whole frames. Shared by the user client and the load-testing tools.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "protocol/frame_header.h"

namespace qolv::client {

// The header of a frame a client sends: "QV", 0x01, type, the 32 id bytes, the timestamp and
// the body length, integers big-endian.
FrameHeader MakeFrameHeader(uint8_t type, const uint8_t* messageId, uint64_t timestampMs,
                            uint32_t bodyLength);

// Header and body in one buffer, ready to send.
std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* messageId, uint64_t timestampMs,
                                std::string_view body);

// Milliseconds since 1970 UTC now, for the timestamp of frames a client sends.
uint64_t UnixTimeMs();

enum class CutStatus {
  kFrame,      // a whole frame starts the bytes
  kNeedMore,   // not enough bytes yet
  kBadMagic,   // the header does not start with "QV": the stream cannot be trusted any more
  kBadLength,  // the body length has its top bit set
  kTooLong,    // the body length is above the caller's limit
};

struct CutFrame {
  CutStatus status = CutStatus::kNeedMore;
  FrameHeader header{};  // set once a whole header is there (every status but a short kNeedMore)
  const uint8_t* body = nullptr;
  uint32_t bodyLength = 0;
  size_t size = 0;  // bytes the frame takes at the start of the input (kFrame only)
};

// Looks at the start of the bytes the way the server reads a connection: a header of 48 bytes
// with the magic and a body length without the top bit, then that many body bytes. A client
// caps the body length it is ready to buffer with maxBodyLength.
CutFrame CutNextFrame(const uint8_t* data, size_t size, uint32_t maxBodyLength = 0x7FFFFFFFu);

}  // namespace qolv::client

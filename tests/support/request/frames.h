#pragma once
// Frames as a client writes and reads them.
#include <cstdint>
#include <string>

#include "protocol/frame_header.h"

namespace qolv::testing {

// A 48-byte header: magic, 0x01, type, the id zero-padded to 32 bytes, a zero timestamp and
// the announced body length.
std::string Header(uint8_t type, const std::string& id, uint32_t bodyLength, const char* magic = "QV");
// A header announcing exactly body, followed by body.
std::string Frame(uint8_t type, const std::string& id, const std::string& body = "");

// An answer as read back: its header and its body.
struct Answer {
  FrameHeader header;
  std::string body;
  uint8_t Type() const { return header.type; }
  std::string Id() const { return header.MessageIdText(); }
};

// Splits the first complete frame off the front of bytes; false when none is complete yet.
bool TakeAnswer(std::string& bytes, Answer& answer);

}  // namespace qolv::testing

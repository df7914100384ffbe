#include "protocol/frame_header.h"

#include <cstring>

namespace qolv {

uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

uint64_t ReadBigEndian64(const uint8_t* bytes) {
  return static_cast<uint64_t>(ReadBigEndian32(bytes)) << 32 | ReadBigEndian32(bytes + 4);
}

void WriteBigEndian32(uint8_t* bytes, uint32_t value) {
  for (int i = 3; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

void WriteBigEndian64(uint8_t* bytes, uint64_t value) {
  WriteBigEndian32(bytes, static_cast<uint32_t>(value >> 32));
  WriteBigEndian32(bytes + 4, static_cast<uint32_t>(value));
}

FrameHeader FrameHeader::FromBytes(const void* bytes) {
  FrameHeader header;
  std::memcpy(&header, bytes, kSize);
  return header;
}

FrameHeader FrameHeader::ReplyTemplate() {
  FrameHeader header{};
  header.magic[0] = 'Q';
  header.magic[1] = 'V';
  header.constant = 0x01;
  return header;
}

std::string FrameHeader::MessageIdText() const {
  const void* zero = std::memchr(messageId, 0, kMessageIdSize);
  const size_t length = zero == nullptr ? kMessageIdSize : static_cast<const uint8_t*>(zero) - messageId;
  return std::string(reinterpret_cast<const char*>(messageId), length);
}

}  // namespace qolv

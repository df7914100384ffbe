#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qolv {

// Message types, byte 3 of every frame header.
inline constexpr uint8_t TPMT_REQUEST_API = 0;
inline constexpr uint8_t TPMT_HEART_BEAT = 1;
inline constexpr uint8_t TPMT_RAW_MSG = 2;
inline constexpr uint8_t TPMT_RESPONSE_API = 100;
inline constexpr uint8_t TPMT_ACK_HEART_BEAT = 101;
inline constexpr uint8_t TPMT_ACK_RAW_MSG = 102;

// Header integers are big-endian on the wire, whatever the host's byte order.
uint32_t ReadBigEndian32(const uint8_t* bytes);
uint64_t ReadBigEndian64(const uint8_t* bytes);
void WriteBigEndian32(uint8_t* bytes, uint32_t value);
void WriteBigEndian64(uint8_t* bytes, uint64_t value);

// The 48-byte header in front of every frame, laid out exactly as on the wire.
struct FrameHeader {
  static constexpr size_t kSize = 48;
  static constexpr size_t kMessageIdSize = 32;

  uint8_t magic[2];
  uint8_t constant;  // 0x01 in every frame the server builds; not examined when received
  uint8_t type;
  uint8_t messageId[kMessageIdSize];  // opaque; copied unchanged into the answer
  uint8_t timestamp[8];               // milliseconds since 1970 UTC when the frame was built
  uint8_t bodyLength[4];

  static FrameHeader FromBytes(const void* bytes);  // copies kSize bytes
  // "QV", 0x01 and zeros: the start of every header the server builds.
  static FrameHeader ReplyTemplate();

  bool HasMagic() const { return magic[0] == 'Q' && magic[1] == 'V'; }
  uint32_t BodyLength() const { return ReadBigEndian32(bodyLength); }
  // A length with the top bit set is a protocol error rather than a 2 GB body.
  bool HasValidBodyLength() const { return (BodyLength() & 0x80000000u) == 0; }
  uint64_t Timestamp() const { return ReadBigEndian64(timestamp); }
  // The id as logged: up to its first zero byte, at most all 32 bytes.
  std::string MessageIdText() const;
};
static_assert(sizeof(FrameHeader) == FrameHeader::kSize, "the header struct must match the wire layout");

}  // namespace qolv

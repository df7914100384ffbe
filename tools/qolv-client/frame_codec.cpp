#include "frame_codec.h"

#include <chrono>
#include <cstring>

namespace qolv::client {

FrameHeader MakeFrameHeader(uint8_t type, const uint8_t* messageId, uint64_t timestampMs,
                            uint32_t bodyLength) {
  FrameHeader header = FrameHeader::ReplyTemplate();
  header.type = type;
  std::memcpy(header.messageId, messageId, FrameHeader::kMessageIdSize);
  WriteBigEndian64(header.timestamp, timestampMs);
  WriteBigEndian32(header.bodyLength, bodyLength);
  return header;
}

std::vector<uint8_t> BuildFrame(uint8_t type, const uint8_t* messageId, uint64_t timestampMs,
                                std::string_view body) {
  const FrameHeader header =
      MakeFrameHeader(type, messageId, timestampMs, static_cast<uint32_t>(body.size()));
  std::vector<uint8_t> frame(FrameHeader::kSize + body.size());
  std::memcpy(frame.data(), &header, FrameHeader::kSize);
  if (!body.empty()) std::memcpy(frame.data() + FrameHeader::kSize, body.data(), body.size());
  return frame;
}

uint64_t UnixTimeMs() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
}

CutFrame CutNextFrame(const uint8_t* data, size_t size, uint32_t maxBodyLength) {
  CutFrame cut;
  if (size < FrameHeader::kSize) return cut;
  cut.header = FrameHeader::FromBytes(data);
  if (!cut.header.HasMagic()) {
    cut.status = CutStatus::kBadMagic;
    return cut;
  }
  if (!cut.header.HasValidBodyLength()) {
    cut.status = CutStatus::kBadLength;
    return cut;
  }
  const uint32_t bodyLength = cut.header.BodyLength();
  if (bodyLength > maxBodyLength) {
    cut.status = CutStatus::kTooLong;
    return cut;
  }
  if (size - FrameHeader::kSize < bodyLength) return cut;
  cut.status = CutStatus::kFrame;
  cut.body = data + FrameHeader::kSize;
  cut.bodyLength = bodyLength;
  cut.size = FrameHeader::kSize + bodyLength;
  return cut;
}

}  // namespace qolv::client

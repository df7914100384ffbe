#include "support/request/frames.h"

#include <algorithm>

namespace qolv::testing {

std::string Header(uint8_t type, const std::string& id, uint32_t bodyLength, const char* magic) {
  std::string header(FrameHeader::kSize, '\0');
  header[0] = magic[0];
  header[1] = magic[1];
  header[2] = 0x01;
  header[3] = static_cast<char>(type);
  header.replace(4, std::min(id.size(), FrameHeader::kMessageIdSize), id, 0, FrameHeader::kMessageIdSize);
  WriteBigEndian32(reinterpret_cast<uint8_t*>(header.data()) + 44, bodyLength);
  return header;
}

std::string Frame(uint8_t type, const std::string& id, const std::string& body) {
  return Header(type, id, static_cast<uint32_t>(body.size())) + body;
}

bool TakeAnswer(std::string& bytes, Answer& answer) {
  if (bytes.size() < FrameHeader::kSize) return false;
  answer.header = FrameHeader::FromBytes(bytes.data());
  const size_t total = FrameHeader::kSize + answer.header.BodyLength();
  if (bytes.size() < total) return false;
  answer.body = bytes.substr(FrameHeader::kSize, total - FrameHeader::kSize);
  bytes.erase(0, total);
  return true;
}

}  // namespace qolv::testing

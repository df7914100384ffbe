#include "protocol/outgoing_frame.h"

#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>

namespace qolv {

OutgoingFrame::OutgoingFrame(const FrameHeader& request, const void* body, uint32_t bodyLength, uint8_t type,
                             const platform::LocalTime& now)
    : header_(FrameHeader::ReplyTemplate()) {
  if (bodyLength > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) - FrameHeader::kSize) {
    throw std::length_error("answer body too long for one frame");
  }
  header_.type = type;
  std::memcpy(header_.messageId, request.messageId, FrameHeader::kMessageIdSize);
  WriteBigEndian64(header_.timestamp, TimestampMs(now));
  WriteBigEndian32(header_.bodyLength, bodyLength);

  totalLength_ = static_cast<int32_t>(FrameHeader::kSize + bodyLength);
  buffer_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(totalLength_));
  std::memcpy(buffer_.get(), &header_, FrameHeader::kSize);
  if (body != nullptr && bodyLength != 0) std::memcpy(buffer_.get() + FrameHeader::kSize, body, bodyLength);
}

uint64_t OutgoingFrame::TimestampMs(const platform::LocalTime& localTime) {
  std::tm fields{};
  fields.tm_year = localTime.year - 1900;
  fields.tm_mon = localTime.month - 1;
  fields.tm_mday = localTime.day;
  fields.tm_hour = localTime.hour;
  fields.tm_min = localTime.minute;
  fields.tm_sec = localTime.second;
  fields.tm_isdst = -1;
  // Full 64-bit seconds, so that stamps stay right after January 2038.
  const int64_t seconds = static_cast<int64_t>(std::mktime(&fields));
  // mktime's failure (-1) would otherwise become a stamp far in the future.
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds * 1000 + localTime.millisecond);
}

}  // namespace qolv

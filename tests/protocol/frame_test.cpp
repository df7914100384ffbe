#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "protocol/frame_header.h"
#include "protocol/outgoing_frame.h"

namespace qolv {
namespace {

using Bytes = std::vector<uint8_t>;

// A request header as a client might send it: odd constant byte, zeros inside the id, a
// timestamp of its own.
Bytes RequestHeader(uint8_t type, uint32_t bodyLength) {
  const uint8_t id[32] = {'i', 'd', 0, '7', 0, 0,  0xFF, 0x80, 'x', 'y', 'z', 0,  1,  2,   3,   4,
                          5,   6,   7, 8,   9, 10, 11,   12,   13,  14,  15,  16, 17, 'e', 'n', 'd'};
  const uint8_t timestamp[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
  Bytes h(FrameHeader::kSize);
  h[0] = 'Q';
  h[1] = 'V';
  h[2] = 0x7E;
  h[3] = type;
  std::copy(id, id + 32, h.begin() + 4);
  std::copy(timestamp, timestamp + 8, h.begin() + 36);
  for (int i = 0; i < 4; ++i) h[44 + i] = static_cast<uint8_t>(bodyLength >> (24 - 8 * i));
  return h;
}

// 2021-06-01 12:34:56.789 local time, whatever the machine's zone.
const platform::LocalTime kNow{2021, 6, 1, 12, 34, 56, 789};

Bytes ExpectedAnswer(uint8_t type, const Bytes& body) {
  const uint64_t stamp = OutgoingFrame::TimestampMs(kNow);
  Bytes expected = RequestHeader(type, static_cast<uint32_t>(body.size()));
  expected[2] = 0x01;
  for (int i = 0; i < 8; ++i) expected[36 + i] = static_cast<uint8_t>(stamp >> (56 - 8 * i));
  expected.insert(expected.end(), body.begin(), body.end());
  return expected;
}

Bytes FrameBytes(const OutgoingFrame& frame) {
  return Bytes(frame.Data(), frame.Data() + frame.TotalLength());
}

TEST(OutgoingFrame, EmptyAnswerIsExactlyTheHeaderWithZeroLength) {
  const FrameHeader request = FrameHeader::FromBytes(RequestHeader(TPMT_HEART_BEAT, 0).data());
  const OutgoingFrame frame(request, nullptr, 0, ReplyTypeFor(request.type), kNow);
  ASSERT_EQ(frame.TotalLength(), 48);
  EXPECT_EQ(FrameBytes(frame), ExpectedAnswer(TPMT_ACK_HEART_BEAT, {}));
  // A non-null body of length 0 is empty too.
  const char body[] = "ignored";
  EXPECT_EQ(OutgoingFrame(request, body, 0, TPMT_ACK_HEART_BEAT, kNow).TotalLength(), 48);
}

TEST(OutgoingFrame, AnswersCarryTheBodyBehindTheHeader) {
  const Bytes body = {'{', '"', 'o', 'k', '"', ':', '1', '}', 0, 'z'};
  for (const uint8_t requestType : {TPMT_REQUEST_API, TPMT_RAW_MSG}) {
    const FrameHeader request = FrameHeader::FromBytes(RequestHeader(requestType, 3).data());
    const OutgoingFrame frame(request, body.data(), static_cast<uint32_t>(body.size()),
                              ReplyTypeFor(requestType), kNow);
    const uint8_t answerType = requestType == TPMT_REQUEST_API ? TPMT_RESPONSE_API : TPMT_ACK_RAW_MSG;
    EXPECT_EQ(FrameBytes(frame), ExpectedAnswer(answerType, body));
    EXPECT_EQ(frame.Header().BodyLength(), body.size());
  }
}

TEST(OutgoingFrame, LengthThatDoesNotFitTheFrameIsRefused) {
  const FrameHeader request = FrameHeader::FromBytes(RequestHeader(TPMT_REQUEST_API, 1).data());
  EXPECT_THROW(OutgoingFrame(request, nullptr, 0x7FFFFFF0u, TPMT_RESPONSE_API, kNow), std::length_error);
}

TEST(OutgoingFrame, TimestampIsUtcMillisecondsAlsoAfter2038) {
  // Round trip through the C library's own local time, so the test holds in every zone.
  for (const int64_t utcSeconds : {int64_t{1622550896}, int64_t{2147483647} + 3600, int64_t{2524608000}}) {
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    const std::tm local = *std::localtime(&t);
    const platform::LocalTime now{local.tm_year + 1900,
                                  local.tm_mon + 1,
                                  local.tm_mday,
                                  local.tm_hour,
                                  local.tm_min,
                                  local.tm_sec,
                                  321};
    EXPECT_EQ(OutgoingFrame::TimestampMs(now), static_cast<uint64_t>(utcSeconds) * 1000 + 321) << utcSeconds;
  }
  // A time the C library cannot or does not place after 1970 gives 0, not a wrapped huge stamp.
  EXPECT_EQ(OutgoingFrame::TimestampMs(platform::LocalTime{1960, 6, 1, 12, 0, 0, 5}), 0u);
}

TEST(FrameHeader, ReceivedHeaderRules) {
  Bytes bytes = RequestHeader(TPMT_REQUEST_API, 0x7FFFFFFFu);
  FrameHeader header = FrameHeader::FromBytes(bytes.data());
  EXPECT_TRUE(header.HasMagic());
  EXPECT_EQ(header.BodyLength(), 0x7FFFFFFFu);
  EXPECT_TRUE(header.HasValidBodyLength());
  EXPECT_EQ(header.Timestamp(), 0xDEADBEEF01020304u);
  EXPECT_EQ(header.MessageIdText(), "id");

  for (const uint32_t length : {0x80000000u, 0xFFFFFFFFu}) {
    header = FrameHeader::FromBytes(RequestHeader(TPMT_REQUEST_API, length).data());
    EXPECT_FALSE(header.HasValidBodyLength()) << length;
  }
  for (const char* magic : {"QW", "qv", "VQ"}) {
    bytes[0] = static_cast<uint8_t>(magic[0]);
    bytes[1] = static_cast<uint8_t>(magic[1]);
    EXPECT_FALSE(FrameHeader::FromBytes(bytes.data()).HasMagic()) << magic;
  }

  // An id without any zero byte is taken whole: all 32 bytes, nothing behind them.
  for (size_t i = 0; i < FrameHeader::kMessageIdSize; ++i)
    header.messageId[i] = static_cast<uint8_t>('A' + i % 26);
  EXPECT_EQ(header.MessageIdText(), "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF");
}

}  // namespace
}  // namespace qolv

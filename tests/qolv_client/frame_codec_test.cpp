#include "frame_codec.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "client_exchange.h"
#include "request/tcp_request_session.h"

namespace qolv::client {
namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kId[32] = {'a', 'b', 0,  'c', 0xFF, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                         12,  13,  14, 15,  16,   17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 'z'};

TEST(FrameCodecTest, BuildsTheWireLayout) {
  const Bytes frame = BuildFrame(TPMT_RAW_MSG, kId, 0x0102030405060708ull, "{}");
  ASSERT_EQ(frame.size(), 50u);
  EXPECT_EQ(frame[0], 'Q');
  EXPECT_EQ(frame[1], 'V');
  EXPECT_EQ(frame[2], 0x01);
  EXPECT_EQ(frame[3], TPMT_RAW_MSG);
  EXPECT_EQ(std::memcmp(frame.data() + 4, kId, 32), 0);
  const Bytes stampAndLength(frame.begin() + 36, frame.begin() + 48);
  EXPECT_EQ(stampAndLength, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 2}));
  EXPECT_EQ(frame[48], '{');
  EXPECT_EQ(frame[49], '}');
  EXPECT_EQ(BuildFrame(TPMT_HEART_BEAT, kId, 0, "").size(), FrameHeader::kSize);
}

// Bytes arriving one at a time are cut only once the whole frame is there, and two frames in one
// buffer come out in order.
TEST(FrameCodecTest, CutsWholeFramesOnly) {
  Bytes stream = BuildFrame(TPMT_RESPONSE_API, kId, 1, "hello");
  const Bytes second = BuildFrame(TPMT_ACK_HEART_BEAT, kId, 2, "");
  stream.insert(stream.end(), second.begin(), second.end());

  for (size_t size = 0; size < 53; ++size) {
    EXPECT_EQ(CutNextFrame(stream.data(), size).status, CutStatus::kNeedMore) << size;
  }
  const CutFrame first = CutNextFrame(stream.data(), stream.size());
  ASSERT_EQ(first.status, CutStatus::kFrame);
  EXPECT_EQ(first.size, 53u);
  EXPECT_EQ(first.header.type, TPMT_RESPONSE_API);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.body), first.bodyLength), "hello");

  const CutFrame next = CutNextFrame(stream.data() + first.size, stream.size() - first.size);
  ASSERT_EQ(next.status, CutStatus::kFrame);
  EXPECT_EQ(next.size, FrameHeader::kSize);
  EXPECT_EQ(next.bodyLength, 0u);
  EXPECT_EQ(next.header.type, TPMT_ACK_HEART_BEAT);
}

TEST(FrameCodecTest, RejectsHeadersTheServerWouldDrop) {
  Bytes frame = BuildFrame(TPMT_RESPONSE_API, kId, 1, "");
  frame[1] = 'X';
  EXPECT_EQ(CutNextFrame(frame.data(), frame.size()).status, CutStatus::kBadMagic);

  frame[1] = 'V';
  WriteBigEndian32(frame.data() + 44, 0x80000000u);
  EXPECT_EQ(CutNextFrame(frame.data(), frame.size()).status, CutStatus::kBadLength);
  // The largest legal length only waits for more bytes, unless the caller caps it.
  WriteBigEndian32(frame.data() + 44, 0x7FFFFFFFu);
  EXPECT_EQ(CutNextFrame(frame.data(), frame.size()).status, CutStatus::kNeedMore);
  EXPECT_EQ(CutNextFrame(frame.data(), frame.size(), kMaxAnswerBody).status, CutStatus::kTooLong);
}

// The body the client writes must read back through the server's own parser, escapes and all.
TEST(FrameCodecTest, RequestBodyParsesBackOnTheServerSide) {
  const std::string param = R"({"name":"Front \"A\"","path":"C:\\printers\\a"})";
  const std::string body = RequestBody("printer.add", param);
  const Bytes frame = BuildFrame(TPMT_REQUEST_API, kId, 0, body);
  TcpRequestSession session(9199, 7, frame.data(), frame.data() + FrameHeader::kSize,
                            static_cast<uint32_t>(body.size()));
  ASSERT_TRUE(session.Parse()) << body;
  EXPECT_EQ(session.Action(), "printer.add");
  EXPECT_EQ(session.Param(), param);
}

TEST(FrameCodecTest, MessageIdsAreHexTextAndDiffer) {
  const MessageId first = NewMessageId();
  const MessageId second = NewMessageId();
  EXPECT_NE(first, second);
  for (uint8_t byte : first) EXPECT_TRUE(std::isxdigit(byte)) << static_cast<int>(byte);
}

}  // namespace
}  // namespace qolv::client

#include "heartbeat_replies.h"

#include <cstring>

#include "frame_codec.h"

namespace qolv::bench {
namespace {

constexpr size_t kBlock = 4096;               // the engine's default receive block
constexpr uint32_t kLargestBody = 64u << 20;  // a reference server need not buffer more
constexpr size_t kMostWaiting = 1u << 20;

}  // namespace

HeartbeatReplies::HeartbeatReplies() : in_(kBlock) {}

bool HeartbeatReplies::Received(size_t count) {
  inEnd_ += count;
  size_t used = 0;
  uint64_t nowMs = 0;
  for (;;) {
    const client::CutFrame cut = client::CutNextFrame(in_.data() + used, inEnd_ - used, kLargestBody);
    if (cut.status == client::CutStatus::kNeedMore) break;
    if (cut.status != client::CutStatus::kFrame) return false;
    if (cut.header.type == TPMT_HEART_BEAT && cut.bodyLength == 0) {
      // One clock reading serves every answer of a read, as in the engine's server.
      if (nowMs == 0) nowMs = client::UnixTimeMs();
      const FrameHeader ack = client::MakeFrameHeader(TPMT_ACK_HEART_BEAT, cut.header.messageId, nowMs, 0);
      const auto* bytes = reinterpret_cast<const uint8_t*>(&ack);
      answers_.insert(answers_.end(), bytes, bytes + FrameHeader::kSize);
    }
    used += cut.size;
  }
  if (used != 0) {
    std::memmove(in_.data(), in_.data() + used, inEnd_ - used);
    inEnd_ -= used;
  }
  if (ReadRoom() < kBlock / 2) in_.resize(in_.size() * 2);
  return true;
}

bool HeartbeatReplies::TooManyWaiting() const { return answers_.size() > kMostWaiting; }

}  // namespace qolv::bench

#include "heartbeat_answerer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "net/server_interfaces.h"
#include "protocol/frame_header.h"

namespace qolv::bench {
namespace {

// Bodies are only skipped here; a length beyond this is taken for a broken stream.
constexpr uint32_t kLargestBody = 64u << 20;
// Answers gathered before they are handed to the engine in one send.
constexpr size_t kBatchedAnswers = 64;
// Bytes looked at in one Peek: a receive block's worth.
constexpr size_t kLookAhead = 4096;

uint64_t UnixTimeMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

net::EventResult HeartbeatAnswerer::OnPrepareListen(net::ITcpServer*, platform::SocketHandle) {
  return net::EventResult::Ok;
}

net::EventResult HeartbeatAnswerer::OnAccept(net::ITcpServer*, uint32_t, platform::SocketHandle) {
  return net::EventResult::Ok;
}

net::EventResult HeartbeatAnswerer::OnReceive(net::ITcpServer* server, uint32_t connectionId,
                                              int32_t length) {
  FrameHeader answers[kBatchedAnswers];
  size_t count = 0;
  uint64_t nowMs = 0;
  const auto sendAnswers = [&] {
    const bool sent = count == 0 || server->Send(connectionId, reinterpret_cast<const uint8_t*>(answers),
                                                 static_cast<int32_t>(count * FrameHeader::kSize));
    answered_.fetch_add(count, std::memory_order_relaxed);
    count = 0;
    return sent;
  };

  uint8_t view[kLookAhead];
  int64_t waiting = length;
  while (waiting >= static_cast<int64_t>(FrameHeader::kSize)) {
    // One look at what waits (up to the look-ahead) serves every whole frame in it; they are
    // then taken out of the buffer together.
    const auto seen = static_cast<int32_t>(std::min<int64_t>(waiting, sizeof view));
    pull_->Peek(connectionId, view, seen);
    int32_t used = 0;
    FrameHeader header;
    while (seen - used >= static_cast<int32_t>(FrameHeader::kSize)) {
      std::memcpy(&header, view + used, FrameHeader::kSize);
      if (!header.HasMagic() || header.BodyLength() > kLargestBody) return net::EventResult::Error;
      const int64_t frameSize = static_cast<int64_t>(FrameHeader::kSize) + header.BodyLength();
      if (frameSize > seen - used) break;  // it ends beyond this look
      used += static_cast<int32_t>(frameSize);
      if (header.type != TPMT_HEART_BEAT) continue;
      if (nowMs == 0) nowMs = UnixTimeMs();
      FrameHeader& answer = answers[count++];
      answer = FrameHeader::ReplyTemplate();
      answer.type = TPMT_ACK_HEART_BEAT;
      std::memcpy(answer.messageId, header.messageId, sizeof answer.messageId);
      WriteBigEndian64(answer.timestamp, nowMs);
      if (count == kBatchedAnswers && !sendAnswers()) return net::EventResult::Error;
    }
    if (used > 0) {
      pull_->Fetch(connectionId, view, used);
      waiting -= used;
      continue;
    }
    // The first frame is larger than a look: once it is all here its header is taken and its
    // body skipped piecewise.
    std::memcpy(&header, view, FrameHeader::kSize);
    const int64_t frameSize = static_cast<int64_t>(FrameHeader::kSize) + header.BodyLength();
    if (waiting < frameSize) break;  // the rest of the body comes with a later event
    for (int64_t skipped = 0; skipped < frameSize;) {
      const auto piece = static_cast<int32_t>(std::min<int64_t>(sizeof view, frameSize - skipped));
      pull_->Fetch(connectionId, view, piece);
      skipped += piece;
    }
    waiting -= frameSize;
  }
  return sendAnswers() ? net::EventResult::Ok : net::EventResult::Error;
}

net::EventResult HeartbeatAnswerer::OnClose(net::ITcpServer*, uint32_t, net::SocketOp, uint32_t) {
  return net::EventResult::Ok;
}

net::EventResult HeartbeatAnswerer::OnShutdown(net::ITcpServer*) { return net::EventResult::Ok; }

}  // namespace qolv::bench

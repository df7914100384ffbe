#pragma once
// What the reference servers share for one connection: the bytes read so far, cut into frames by
// the 48-byte header and its body length, and the answers to the heartbeats among them until they
// are written. Each server only moves bytes between its sockets and this object, so the servers
// differ in their I/O and nothing else.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qolv::bench {

class HeartbeatReplies {
 public:
  HeartbeatReplies();

  // Where the next read puts its bytes and how many fit: at least half a block, and the whole of a
  // frame that is larger than the buffer so far.
  uint8_t* ReadSpace() { return in_.data() + inEnd_; }
  size_t ReadRoom() const { return in_.size() - inEnd_; }

  // Takes the count bytes just read into ReadSpace: cuts every whole frame out, answers each
  // heartbeat (type 1, empty body) with type 101 and the same id, and skips other frames. False
  // when the stream is broken (no "QV", or a body length with the top bit set or beyond 64 MiB):
  // the connection must close.
  bool Received(size_t count);

  // The answers not written yet; the server takes them from the front.
  std::vector<uint8_t>& Answers() { return answers_; }
  // More answers wait than a peer that reads should leave: stop reading until they are written.
  bool TooManyWaiting() const;

 private:
  std::vector<uint8_t> in_;
  size_t inEnd_ = 0;
  std::vector<uint8_t> answers_;
};

}  // namespace qolv::bench

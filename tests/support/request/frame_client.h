#pragma once
// A blocking client on 127.0.0.1 that writes frames and reads answers, with generous time limits.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket_types.h"
#include "support/request/frames.h"

namespace qolv::testing {

inline constexpr uint32_t kClientPatienceMs = 30000;

class FrameClient {
 public:
  // Connects to 127.0.0.1:port with Nagle's delay off, so each Send leaves as it is.
  explicit FrameClient(uint16_t port);
  ~FrameClient();
  FrameClient(const FrameClient&) = delete;
  FrameClient& operator=(const FrameClient&) = delete;

  bool Connected() const { return connectError_ == 0; }
  uint32_t ConnectError() const { return connectError_; }

  // Sends every byte; false when the connection refused them.
  bool Send(const std::string& bytes);
  // The next count answers, fewer when the connection ended or the time ran out.
  std::vector<Answer> Read(size_t count);
  // True when the server closes the connection in time; bytes read meanwhile are kept in Unread().
  bool WaitClosed();
  // True when nothing arrives and the connection stays open for quietMs.
  bool Quiet(uint32_t quietMs = 200);
  const std::string& Unread() const { return pending_; }
  void Close();

 private:
  // One receive into pending_; 0 with received 0 when the peer closed, 10060 when nothing came.
  uint32_t ReceiveOnce(uint32_t timeoutMs, uint32_t& received);

  platform::SocketHandle socket_ = platform::kInvalidSocket;
  uint32_t connectError_ = 0;
  std::string pending_;
};

}  // namespace qolv::testing

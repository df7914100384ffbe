#pragma once
// The listener of the engine benchmark server: it cuts each connection's bytes into frames
// (48-byte header "QV", big-endian body length at byte 44) and answers every heartbeat at once,
// from inside OnReceive, with an empty heartbeat answer under the same message id. It looks at
// the waiting bytes with one Peek, cuts the whole frames in them in place and takes them out with
// one Fetch, as the reference servers cut frames in their read buffer; the answers to the frames
// of one OnReceive leave in one send.
#include <atomic>
#include <cstdint>

#include "net/pull_socket.h"
#include "net/tcp_server_listener.h"

namespace qolv::bench {

class HeartbeatAnswerer : public net::CTcpPullServerListener {
 public:
  // The pull side of the server that raises the events; set before the server starts.
  void Attach(net::IPullSocket* pull) { pull_ = pull; }

  net::EventResult OnPrepareListen(net::ITcpServer*, platform::SocketHandle) override;
  net::EventResult OnAccept(net::ITcpServer*, uint32_t, platform::SocketHandle) override;
  net::EventResult OnReceive(net::ITcpServer* server, uint32_t connectionId, int32_t length) override;
  net::EventResult OnClose(net::ITcpServer*, uint32_t, net::SocketOp, uint32_t) override;
  net::EventResult OnShutdown(net::ITcpServer*) override;

  uint64_t Answered() const { return answered_.load(std::memory_order_relaxed); }

 private:
  net::IPullSocket* pull_ = nullptr;
  std::atomic<uint64_t> answered_{0};
};

}  // namespace qolv::bench

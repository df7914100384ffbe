#pragma once
#include <cstdint>

#include "net/server_holder.h"
#include "net/tcp_server_listener.h"
#include "request/client_ledger.h"
#include "request/connection_flow.h"

namespace qolv {

struct ReceiveState;

// The service's side of the TCP engine: it owns the pull server, listens for the POS client,
// cuts each connection's bytes into frames and hands every complete frame to its delegate.
class TcpService : public net::CTcpPullServerListener {
 public:
  // What TcpService reports; implemented by the request handling.
  class Delegate {
   public:
    // One complete frame. header points to the 48 header bytes, body to bodyLength bytes or is
    // null for an empty body; both are valid only during the call.
    virtual void OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header,
                           const uint8_t* body, int32_t bodyLength) = 0;
    // A connection ended, or was disconnected by Disconnect (then it is reported again at its close).
    virtual void OnConnectionClosed(uint16_t localPort, uint32_t connectionId) = 0;
    virtual ~Delegate() = default;
  };

  static constexpr uint16_t kServicePort = 9199;
  static constexpr char kListenAddress[] = "0.0.0.0";
  // The most received bytes a connection may hold unfetched. Without it a header announcing a
  // body of up to 2 GiB would make the engine buffer all of it for one frame.
  static constexpr int32_t kReceiveLimit = 64 * 1024 * 1024;

  // Creates the engine's server with this object as its listener; it does not listen yet.
  TcpService();
  // Destroys the server, which stops it first if it still runs.
  ~TcpService() override;
  TcpService(const TcpService&) = delete;
  TcpService& operator=(const TcpService&) = delete;

  // Keeps the delegate and listens on all IPv4 addresses at port. Port 0 lets the system choose
  // (for tests); the chosen port is then what Port() and every frame report.
  bool Start(Delegate* delegate, uint16_t port = kServicePort);
  // Sends length bytes on the connection; false, with a log line, when they were not accepted.
  bool Send(uint32_t connectionId, const uint8_t* data, int32_t length);
  // Closes the connection at once and tells the delegate; false, with a log line, on failure.
  bool Disconnect(uint32_t connectionId);

  // Called from inside Delegate::OnMessage: the frame being delivered stays counted as its
  // connection's outstanding work until the ticket is destroyed. A frame whose ticket is not
  // taken counts only until OnMessage returns. Empty when called anywhere else.
  WorkTicket TakeWorkTicket();
  // What the service holds for its clients.
  const ClientLedger& Ledger() const { return ledger_; }

  // The engine's server, for the host's Stop at the end of the service.
  net::TcpPullServer* Server() const { return holder_.Get(); }
  uint16_t Port() const { return port_; }

  // Engine events. Each uses the server it names, which is the held one in the service.
  using net::CTcpPullServerListener::OnReceive;
  net::EventResult OnReceive(net::ITcpServer* server, uint32_t connectionId, int32_t length) override;
  net::EventResult OnSent(net::ITcpServer* server, uint32_t connectionId, const uint8_t* data,
                          int32_t length) override;
  net::EventResult OnClose(net::ITcpServer* server, uint32_t connectionId, net::SocketOp operation,
                           uint32_t errorCode) override;
  net::EventResult OnShutdown(net::ITcpServer* server) override;
  net::EventResult OnPrepareListen(net::ITcpServer* server, platform::SocketHandle listenSocket) override;
  net::EventResult OnAccept(net::ITcpServer* server, uint32_t connectionId,
                            platform::SocketHandle socket) override;

 private:
  // Takes complete frames out of waiting bytes and delivers them in arrival order, as long as
  // the connection's work allows; waiting is left at the bytes still held.
  net::EventResult CutFrames(net::IPullSocket& pull, uint32_t connectionId, ReceiveState& state,
                             int32_t& waiting, bool& heldBack);
  void Deliver(uint32_t connectionId, const ReceiveState& state, const uint8_t* body, int32_t length);
  // Closes connections holding the largest unfinished frames while the ledger is over budget;
  // Error when that is the connection of the current event.
  net::EventResult KeepWithinBudget(uint32_t connectionId, ConnectionFlow& flow, int32_t length);
  net::EventResult RefuseOverLimit(uint32_t connectionId, int32_t length);

  Delegate* delegate_ = nullptr;
  uint16_t port_ = 0;
  // Declared before the holder: the server's last close events still settle their accounts here.
  ClientLedger ledger_;
  // Declared last so that it is destroyed first: stopping the server still raises events that
  // read the fields above.
  net::TcpPullServerHolder holder_;
};

}  // namespace qolv

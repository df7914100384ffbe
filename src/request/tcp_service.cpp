#include "request/tcp_service.h"

#include <memory>

#include "log/logger.h"
#include "platform/system_error.h"
#include "request/receive_state.h"

namespace qolv {
namespace {

constexpr int kAddressCapacity = 64;
constexpr int32_t kHeaderLength = static_cast<int32_t>(FrameHeader::kSize);

unsigned long IdForLog(uint32_t connectionId) { return static_cast<unsigned long>(connectionId); }

// What a queued frame costs until its task is gone: the session with the header and a copy of
// the body, a second copy once the param is read out of it, the task and its place in the queue.
constexpr int64_t kFrameOverhead = 512;
int64_t FrameCost(int32_t bodyLength) { return kFrameOverhead + 2 * int64_t{bodyLength}; }

// The ticket of the frame this thread is delivering, and the service delivering it.
thread_local WorkTicket* t_ticket = nullptr;
thread_local const TcpService* t_deliverer = nullptr;

}  // namespace

TcpService::TcpService() : holder_(this) {
  // Stopping the server at destruction still logs, so the logger must outlive this object.
  Logger::Instance();
}

TcpService::~TcpService() = default;

bool TcpService::Start(Delegate* delegate, uint16_t port) {
  delegate_ = delegate;
  port_ = port;
  if (holder_->Start(kListenAddress, port)) return true;
  Logger::Instance().Print(DBG_ERROR, "TcpService StartFailed: error=%s", holder_->GetLastErrorText());
  return false;
}

bool TcpService::Send(uint32_t connectionId, const uint8_t* data, int32_t length) {
  // Counted before the engine has the bytes: their completion may be reported before Send returns.
  const std::shared_ptr<ConnectionFlow> flow = length > 0 ? ledger_.Find(connectionId) : nullptr;
  if (flow) flow->AnswerQueued(length);
  if (holder_->Send(connectionId, data, length, 0)) return true;
  if (flow) flow->AnswerDropped(length);
  const uint32_t code = platform::GetSystemError();
  Logger::Instance().Print(DBG_ERROR, "TcpService SendFailed: error=%s, code=%d, localPort=%d, connid=%d",
                           holder_->GetLastErrorText(), static_cast<int>(code), port_,
                           static_cast<int>(connectionId));
  return false;
}

bool TcpService::Disconnect(uint32_t connectionId) {
  if (holder_->Disconnect(connectionId, true)) {
    if (delegate_ != nullptr) delegate_->OnConnectionClosed(port_, connectionId);
    return true;
  }
  const uint32_t code = platform::GetSystemError();
  Logger::Instance().Print(DBG_ERROR, "TcpService DisconnectFailed: error=%s, code=%d",
                           holder_->GetLastErrorText(), static_cast<int>(code));
  return false;
}

WorkTicket TcpService::TakeWorkTicket() {
  if (t_deliverer != this || t_ticket == nullptr) return {};
  return std::move(*t_ticket);
}

net::EventResult TcpService::RefuseOverLimit(uint32_t connectionId, int32_t length) {
  Logger::Instance().Print(DBG_ERROR, "TcpService OnReceive buffer limit exceeded, connid=%lu, length=%d",
                           IdForLog(connectionId), length);
  return net::EventResult::Error;
}

net::EventResult TcpService::OnReceive(net::ITcpServer* server, uint32_t connectionId, int32_t length) {
  void* extra = nullptr;
  if (!server->GetConnectionExtra(connectionId, extra) || extra == nullptr) {
    Logger::Instance().Print(DBG_INFO, "TcpService OnReceive GetConnectionExtra exception, connid=%lu;",
                             IdForLog(connectionId));
    return net::EventResult::Error;
  }
  auto& state = *static_cast<ReceiveState*>(extra);
  ConnectionFlow& flow = *state.flow;
  // Checked before anything is allocated: a body announced beyond the limit is never taken.
  if (length > kReceiveLimit) return RefuseOverLimit(connectionId, length);
  if (flow.Condemned()) {
    return flow.FirstRefusal() ? RefuseOverLimit(connectionId, length) : net::EventResult::Error;
  }
  int32_t waiting = length;
  bool heldBack = false;
  if (waiting >= state.expectedLength) {
    net::IPullSocket* pull = net::PullSocketOf(server);
    if (pull == nullptr) return net::EventResult::Error;
    if (CutFrames(*pull, connectionId, state, waiting, heldBack) == net::EventResult::Error) {
      return net::EventResult::Error;
    }
  }
  flow.SetHeld(waiting, !heldBack);
  return KeepWithinBudget(connectionId, flow, waiting);
}

net::EventResult TcpService::KeepWithinBudget(uint32_t connectionId, ConnectionFlow& flow, int32_t length) {
  while (ledger_.OverBudget()) {
    const std::shared_ptr<ConnectionFlow> largest = ledger_.LargestIncomplete();
    if (!largest) break;
    if (largest.get() == &flow) {
      flow.Condemn(false);
      return RefuseOverLimit(connectionId, length);
    }
    // Its own receive event, raised again for it, refuses it and logs the line.
    largest->Condemn(true);
  }
  return net::EventResult::Ok;
}

net::EventResult TcpService::CutFrames(net::IPullSocket& pull, uint32_t connectionId, ReceiveState& state,
                                       int32_t& waiting, bool& heldBack) {
  while (waiting >= state.expectedLength) {
    // Frames are held back only whole: a body whose header was taken is delivered.
    if (state.expectingHeader && !state.flow->MayDeliver()) {
      heldBack = true;
      break;
    }
    waiting -= state.expectedLength;
    if (state.expectingHeader) {
      auto* header = reinterpret_cast<uint8_t*>(&state.header);
      if (pull.Fetch(connectionId, header, kHeaderLength) != net::PullResult::Ok)
        return net::EventResult::Error;
      if (!state.header.HasMagic() || !state.header.HasValidBodyLength()) return net::EventResult::Error;
      const auto bodyLength = static_cast<int32_t>(state.header.BodyLength());
      if (bodyLength > 0) {
        state.expectingHeader = false;
        state.expectedLength = bodyLength;
      } else {
        Deliver(connectionId, state, nullptr, 0);
      }
    } else {
      const int32_t bodyLength = state.expectedLength;
      auto body = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bodyLength));
      if (pull.Fetch(connectionId, body.get(), bodyLength) != net::PullResult::Ok)
        return net::EventResult::Error;
      Deliver(connectionId, state, body.get(), bodyLength);
      state.expectingHeader = true;
      state.expectedLength = kHeaderLength;
    }
  }
  return net::EventResult::Ok;
}

void TcpService::Deliver(uint32_t connectionId, const ReceiveState& state, const uint8_t* body,
                         int32_t length) {
  if (delegate_ == nullptr) return;
  WorkTicket ticket(state.flow, FrameCost(length));
  t_ticket = &ticket;
  t_deliverer = this;
  delegate_->OnMessage(port_, connectionId, reinterpret_cast<const uint8_t*>(&state.header), body, length);
  t_ticket = nullptr;
  t_deliverer = nullptr;
}

net::EventResult TcpService::OnSent(net::ITcpServer*, uint32_t connectionId, const uint8_t*, int32_t length) {
  if (const std::shared_ptr<ConnectionFlow> flow = ledger_.Find(connectionId)) flow->AnswerSent(length);
  return net::EventResult::Ok;
}

net::EventResult TcpService::OnClose(net::ITcpServer* server, uint32_t connectionId, net::SocketOp operation,
                                     uint32_t errorCode) {
  if (errorCode == 0) {
    Logger::Instance().Print(DBG_INFO, "TcpService OnClose: connid=%lu", IdForLog(connectionId));
  } else {
    Logger::Instance().Print(DBG_INFO, "TcpService OnClose(link error): connid=%lu; operation=%d; errcode:%d",
                             IdForLog(connectionId), static_cast<int>(operation),
                             static_cast<int>(errorCode));
  }
  if (delegate_ != nullptr) delegate_->OnConnectionClosed(port_, connectionId);
  void* extra = nullptr;
  if (server->GetConnectionExtra(connectionId, extra) && extra != nullptr) {
    server->SetConnectionExtra(connectionId, nullptr);
    auto* state = static_cast<ReceiveState*>(extra);
    ledger_.Unregister(connectionId);
    state->flow->Close();
    delete state;
  }
  return net::EventResult::Ok;
}

net::EventResult TcpService::OnShutdown(net::ITcpServer*) {
  Logger::Instance().Print(DBG_INFO, "TcpService OnShutdown, port=%d", port_);
  return net::EventResult::Ok;
}

net::EventResult TcpService::OnPrepareListen(net::ITcpServer* server, platform::SocketHandle) {
  char address[kAddressCapacity] = "";
  int length = kAddressCapacity;
  uint16_t port = 0;
  server->GetListenAddress(address, length, port);
  // The socket is bound but nobody can connect yet, so every connection sees the chosen port.
  if (port_ == 0) port_ = port;
  Logger::Instance().Print(DBG_INFO, "TcpService OnPrepareListen: address=%s; port=%d", address, port);
  return net::EventResult::Ok;
}

net::EventResult TcpService::OnAccept(net::ITcpServer* server, uint32_t connectionId,
                                      platform::SocketHandle) {
  char address[kAddressCapacity] = "";
  int length = kAddressCapacity;
  uint16_t port = 0;
  server->GetRemoteAddress(connectionId, address, length, port);
  Logger::Instance().Print(DBG_INFO, "TcpService OnAccept: connid=%lu; remoteAddress=%s; port=%d",
                           IdForLog(connectionId), address, port);
  auto state = std::make_unique<ReceiveState>();
  state->flow = std::make_shared<ConnectionFlow>(connectionId, server, ledger_);
  // A state the connection does not hold would never be freed; its first receive then fails.
  if (server->SetConnectionExtra(connectionId, state.get())) {
    ledger_.Register(state->flow);
    state.release();
  }
  return net::EventResult::Ok;
}

}  // namespace qolv

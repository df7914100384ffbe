// The server's life: construction, Start and Stop in their fixed orders, and the event layers.
#include "net/tcp_server.h"

#include <mutex>
#include <new>
#include <system_error>
#include <unordered_set>

#include "net/error_text.h"
#include "net/fatal_error.h"
#include "net/socket_helpers.h"
#include "platform/clock.h"
#include "platform/crash_handler.h"
#include "platform/error_codes.h"
#include "platform/process_info.h"
#include "platform/pump_wait.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

// The server whose worker loop the calling thread runs, if any: Stop from inside an event
// would wait for its own thread.
thread_local const CTcpServer* t_workerOf = nullptr;

constexpr uint32_t kListenCloseSettleMs = 100;
constexpr uint32_t kStopPollMs = 50;
// Each wait of a stop has a bound of its own, so a slow step does not use up the next one's time.
// A closed socket's operations complete at once, but a system that loses one (Wine does, now and
// then) must not hold the stop for ever: past its bound a wait gives up, and the stop goes on in
// a way that stays consistent.
constexpr uint32_t kAcceptWaitLimitMs = 5000;
// The workers close the connections; a listener slow in OnClose holds them up.
constexpr uint32_t kCloseWaitLimitMs = 30000;
constexpr uint32_t kOperationDrainLimitMs = 5000;

// Pump-waits while busy() holds, at most limitMs; false when the time ran out first.
template <typename Busy>
bool WaitWhile(Busy busy, uint32_t limitMs) {
  const uint32_t start = platform::TickCount();
  while (busy()) {
    if (platform::TickCount() - start >= limitMs) return false;
    platform::PumpWait(kStopPollMs);
  }
  return true;
}

}  // namespace

// The properties keep only a reference to the state, which is declared after them; naming it
// through the object keeps the compiler from taking the binding for a read.
const std::atomic<ServerState>& CTcpServer::StateOf(const CTcpServer* server) { return server->state_; }

CTcpServer::CTcpServer(ITcpServerListener* listener) : properties_(StateOf(this)), listener_(listener) {}

CTcpServer::~CTcpServer() {
  if (GetServerState() != ServerState::Stopped) Stop();
}

bool CTcpServer::IsRunning() const {
  const ServerState state = GetServerState();
  return state == ServerState::Starting || state == ServerState::Started;
}

const char* CTcpServer::GetLastErrorText() const { return ServerErrorText(GetLastErrorCode()); }

bool CTcpServer::Start(const char* address, uint16_t port) {
  if (!CheckSettings()) return false;
  {
    std::lock_guard<CSpinFlag> lock(stateLock_);
    if (GetServerState() != ServerState::Stopped) {
      SetLastError(ServerError::IllegalState);
      platform::SetSystemError(err::kInvalidState);
      return false;
    }
    state_.store(ServerState::Starting, std::memory_order_release);
  }
  PrepareResources();
  if (CreateListenSocket(address, port)) {
    if (!port_.Open()) {
      SetLastError(ServerError::CreateCompletionPortFailed);
    } else if (CreateWorkerThreads() && StartAccepting()) {
      // Reset first: from the moment the state says Started a Stop may run, and the event it
      // signals at its end must stay signalled.
      stopEvent_.Reset();
      state_.store(ServerState::Started, std::memory_order_release);
      return true;
    }
  }
  // Whatever was brought up goes down again the way Stop takes it down; the failing step's
  // error stays for the caller.
  const uint32_t error = platform::GetSystemError();
  state_.store(ServerState::Stopping, std::memory_order_release);
  TearDown();
  platform::SetSystemError(error);
  return false;
}

bool CTcpServer::CreateListenSocket(const char* address, uint16_t port) {
  if (address == nullptr || *address == '\0') address = "0.0.0.0";
  platform::SockAddr listenAddress{};
  if (!TextToSockAddr(address, port, listenAddress)) {
    SetLastError(ServerError::CreateSocketFailed);
    return false;
  }
  family_ = platform::AddressFamily(listenAddress);
  const platform::SocketHandle socket = platform::CreateStreamSocket(family_);
  if (socket == platform::kInvalidSocket) {
    SetLastError(ServerError::CreateSocketFailed);
    return false;
  }
  listenSocket_.store(socket, std::memory_order_release);

  ListenSocketOptions options;
  options.keepAliveTime = properties_.GetKeepAliveTime();
  options.keepAliveInterval = properties_.GetKeepAliveInterval();
  options.addressReusePolicy = static_cast<int32_t>(properties_.GetAddressReusePolicy());
  options.noDelay = properties_.GetNoDelay();
  // A refused option (an address reuse policy out of range above all) is a setting the caller
  // can fix, so the start fails instead of taking the process down.
  if (!ApplyListenSocketOptions(socket, options)) {
    SetLastError(ServerError::CreateSocketFailed);
    return false;
  }
  if (platform::BindSocket(socket, listenAddress) != err::kSuccess) {
    SetLastError(ServerError::BindSocketFailed);
    return false;
  }
  platform::SetSystemError(err::kSuccess);
  if (RaisePrepareListen(socket) == EventResult::Error) {
    if (platform::GetSystemError() == err::kSuccess) platform::SetSystemError(err::kCancelled);
    SetLastError(ServerError::PrepareSocketFailed);
    return false;
  }
  if (platform::ListenSocket(socket, properties_.GetListenBacklog()) != err::kSuccess) {
    SetLastError(ServerError::ListenSocketFailed);
    return false;
  }
  acceptFunctions_ = platform::LookupAcceptFunctions(socket);
  return true;
}

bool CTcpServer::CreateWorkerThreads() {
  const uint32_t count = properties_.GetWorkerThreadCount();
  try {
    workers_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) workers_.emplace_back([this] { WorkerLoop(); });
  } catch (const std::system_error&) {
    SetLastError(ServerError::CreateWorkerThreadFailed);
    platform::SetSystemError(err::kNotEnoughMemory);
    return false;
  } catch (const std::bad_alloc&) {
    SetLastError(ServerError::CreateWorkerThreadFailed);
    platform::SetSystemError(err::kNotEnoughMemory);
    return false;
  }
  return true;
}

bool CTcpServer::StartAccepting() {
  const platform::SocketHandle socket = listenSocket_.load(std::memory_order_acquire);
  if (!port_.Associate(socket, socket)) {
    SetLastError(ServerError::AttachSocketFailed);
    return false;
  }
  const uint32_t count = properties_.GetPendingAcceptCount();
  pendingAccepts_.store(static_cast<int32_t>(count), std::memory_order_release);
  for (uint32_t i = 0; i < count; ++i) PostAcceptCommand();
  return true;
}

bool CTcpServer::Stop() {
  const auto refuse = [this] {
    SetLastError(ServerError::IllegalState);
    platform::SetSystemError(err::kInvalidState);
    return false;
  };
  if (t_workerOf == this) return refuse();
  {
    std::lock_guard<CSpinFlag> lock(stateLock_);
    // A server still Starting is stopped by its own Start when a step fails; another thread
    // tearing it down meanwhile would pull the resources from under that Start.
    if (GetServerState() != ServerState::Started) return refuse();
    state_.store(ServerState::Stopping, std::memory_order_release);
  }
  TearDown();
  return true;
}

void CTcpServer::TearDown() {
  // Closing the listen socket fails every outstanding accept; each failure posts an accept
  // command, which from now on only counts the accept down.
  platform::SocketHandle listenSocket = platform::kInvalidSocket;
  {
    std::lock_guard<platform::SlimLock> listening(listenLock_);
    listenSocket = listenSocket_.exchange(platform::kInvalidSocket);
    if (listenSocket != platform::kInvalidSocket) CloseSocketEx(listenSocket);
  }
  if (listenSocket != platform::kInvalidSocket) platform::PumpWait(kListenCloseSettleMs);
  const bool acceptsEnded =
      WaitWhile([this] { return pendingAccepts_.load(std::memory_order_acquire) > 0; }, kAcceptWaitLimitMs);

  // While accepts are still counted, one may yet enter a connection, so every round disconnects
  // whatever has become live since the last.
  std::unordered_set<uint32_t> disconnected;
  const auto disconnectNewcomers = [&] {
    for (uint32_t id : connections_.Snapshot()) {
      if (disconnected.insert(id).second) Disconnect(id, true);
    }
  };
  WaitWhile(
      [&] {
        disconnectNewcomers();
        return CountConnections() > 0;
      },
      kCloseWaitLimitMs);

  // Accepts still outstanding after their wait gave up are lost, and waiting for them would hold
  // the stop for nothing. One a worker holds is not lost: it counts until its connection's receive
  // is posted, and that connection is disconnected here so that the receive ends too.
  WaitWhile(
      [&] {
        disconnectNewcomers();
        const int32_t all = outstandingIo_.load(std::memory_order_acquire);
        const int32_t lost = acceptsEnded ? 0 : outstandingAccepts_.load(std::memory_order_acquire);
        return all - lost > 0;
      },
      kOperationDrainLimitMs);
  StopWorkers();

  // From here on nothing else runs. A connection that an accept entered after the last round is
  // closed here, with its OnClose, so that the table is empty when its slots go.
  for (uint32_t id : connections_.Snapshot(false)) Close(connections_.Find(id), CloseKind::Normal);
  connections_.ReleaseSlots();
  RaiseShutdown();
  connections_.DestroyRested();
  // An operation that has not completed may still write into its block.
  if (outstandingIo_.load(std::memory_order_acquire) == 0) {
    ioBlocks_.Clear();
  } else {
    ioBlocks_.Abandon();
  }
  port_.Close();
  ResetState();
}

void CTcpServer::StopWorkers() {
  for (size_t i = 0; i < workers_.size(); ++i) {
    if (!port_.Post(ExitCommand, 0)) throw FatalError("an exit command could not be posted");
  }
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

bool CTcpServer::WaitStopped(uint32_t timeoutMs) {
  if (stopEvent_.Wait(timeoutMs)) return true;
  platform::SetSystemError(err::kWaitTimeout);
  return false;
}

bool CTcpServer::CheckSettings() {
  ServerError error = ServerError::Success;
  if (properties_.CheckSettings(error)) return true;
  SetLastError(error);
  return false;
}

void CTcpServer::PrepareResources() {
  connections_.Reset(properties_);
  ioBlocks_.Prepare(properties_.GetBufferSize(), properties_.GetBlockPoolSize(),
                    properties_.GetBlockPoolHold());
}

void CTcpServer::ResetState() {
  connections_.ResetArena();
  pendingAccepts_.store(0, std::memory_order_release);
  outstandingIo_.store(0, std::memory_order_release);
  outstandingAccepts_.store(0, std::memory_order_release);
  acceptFunctions_ = platform::AcceptFunctions{};
  state_.store(ServerState::Stopped, std::memory_order_release);
  family_ = 0;
  stopEvent_.Set();
}

TcpConnection* CTcpServer::ReceivingConnection(uint32_t connectionId) const {
  // A worker raises the events of its own server only, so the connection is one of this server.
  TcpConnection* connection = t_receiving;
  if (connection == nullptr || t_workerOf != this ||
      connection->connectionId.load(std::memory_order_relaxed) != connectionId) {
    return nullptr;
  }
  return connection;
}

EventResult CTcpServer::BeforeResumeReceive(TcpConnection*) { return EventResult::Ignore; }
void CTcpServer::WorkerStarted(uint32_t) {}
void CTcpServer::WorkerEnded(uint32_t) {}

void CTcpServer::WorkerLoop() {
  // A listener event that overflows this thread's stack must still leave a crash dump.
  const platform::ThreadCrashStack crashStack;
  const uint32_t threadId = platform::CurrentThreadId();
  t_workerOf = this;
  WorkerStarted(threadId);
  RunWorker();
  WorkerEnded(threadId);
  t_workerOf = nullptr;
}

EventResult CTcpServer::RaisePrepareListen(platform::SocketHandle listenSocket) {
  return NotifyPrepareListen(listenSocket);
}

EventResult CTcpServer::RaiseAccept(TcpConnection* connection) {
  const EventResult result = NotifyAccept(connection);
  if (result == EventResult::Error) return result;
  return RaiseReady(connection);
}

EventResult CTcpServer::RaiseReady(TcpConnection* connection) { return NotifyReady(connection); }

EventResult CTcpServer::RaiseReceiveLength(TcpConnection* connection, int32_t length) {
  return NotifyReceiveLength(connection, length);
}

EventResult CTcpServer::RaiseReceive(TcpConnection* connection, const uint8_t* data, int32_t length) {
  return NotifyReceive(connection, data, length);
}

EventResult CTcpServer::RaiseSent(TcpConnection* connection, const uint8_t* data, int32_t length) {
  return NotifySent(connection, data, length);
}

EventResult CTcpServer::RaiseClose(TcpConnection* connection, SocketOp operation, uint32_t errorCode) {
  return NotifyClose(connection, operation, errorCode);
}

EventResult CTcpServer::RaiseShutdown() { return NotifyShutdown(); }

EventResult CTcpServer::NotifyPrepareListen(platform::SocketHandle listenSocket) {
  return listener_->OnPrepareListen(Sender(), listenSocket);
}

EventResult CTcpServer::NotifyAccept(TcpConnection* connection) {
  return listener_->OnAccept(Sender(), connection->connectionId.load(std::memory_order_acquire),
                             connection->socket.load(std::memory_order_acquire));
}

EventResult CTcpServer::NotifyReady(TcpConnection* connection) {
  return listener_->OnReady(Sender(), connection->connectionId.load(std::memory_order_acquire));
}

EventResult CTcpServer::NotifyReceiveLength(TcpConnection* connection, int32_t length) {
  return listener_->OnReceive(Sender(), connection->connectionId.load(std::memory_order_acquire), length);
}

EventResult CTcpServer::NotifyReceive(TcpConnection* connection, const uint8_t* data, int32_t length) {
  return listener_->OnReceive(Sender(), connection->connectionId.load(std::memory_order_acquire), data,
                              length);
}

EventResult CTcpServer::NotifySent(TcpConnection* connection, const uint8_t* data, int32_t length) {
  return listener_->OnSent(Sender(), connection->connectionId.load(std::memory_order_acquire), data, length);
}

EventResult CTcpServer::NotifyClose(TcpConnection* connection, SocketOp operation, uint32_t errorCode) {
  return listener_->OnClose(Sender(), connection->connectionId.load(std::memory_order_acquire), operation,
                            errorCode);
}

EventResult CTcpServer::NotifyShutdown() { return listener_->OnShutdown(Sender()); }

}  // namespace qolv::net

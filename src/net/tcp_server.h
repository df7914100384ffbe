#pragma once
// The engine: a TCP server driven by a completion port. Start brings up the listen socket, the
// port, the worker threads and the outstanding accepts; the workers then accept, receive, send
// and close, and raise the listener's events; Stop takes everything down in a fixed order so
// that the object can be started again. The application names connections by id only.
//
// Every event goes through two protected layers, Raise* and then Notify*, so a derived server
// (the pull server) can hook either.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "net/block_pool.h"
#include "net/connection_table.h"
#include "net/io_block.h"
#include "net/listener_interfaces.h"
#include "net/manual_reset_event.h"
#include "net/server_interfaces.h"
#include "net/server_properties.h"
#include "net/spin_flag.h"
#include "net/tcp_connection.h"
#include "platform/completion_port.h"
#include "platform/slim_lock.h"
#include "platform/socket_io.h"

namespace qolv::net {

class CTcpServer : public virtual ITcpServer {
 public:
  // Packets posted to the port carry no overlapped record; the byte count names the command and
  // the key its argument (a connection id). Any other count is an error command: a failed
  // immediate send whose error closes the connection.
  static constexpr uint32_t ExitCommand = 0;
  static constexpr uint32_t AcceptCommand = 0xFFFFFFF1u;
  static constexpr uint32_t DisconnectCommand = 0xFFFFFFF2u;
  static constexpr uint32_t SendCommand = 0xFFFFFFF3u;
  static constexpr uint32_t ResumeReceiveCommand = 0xFFFFFFF4u;

  // Non-blocking reads after each receive completion before the next overlapped receive.
  static constexpr int kFurtherReads = 30;
  // Completions a worker takes from the port at once: the port's cost is shared by many, and
  // the other workers still find work while one handles its batch.
  static constexpr uint32_t kCompletionsPerWait = 16;

  // The listener is not owned and must outlive the server.
  explicit CTcpServer(ITcpServerListener* listener);
  // Stops the server if it is running.
  ~CTcpServer() override;
  CTcpServer(const CTcpServer&) = delete;
  CTcpServer& operator=(const CTcpServer&) = delete;

  bool Start(const char* address, uint16_t port) override;
  bool Stop() override;
  bool WaitStopped(uint32_t timeoutMs = platform::kInfinite) override;
  bool IsRunning() const override;
  ServerState GetServerState() const override { return state_.load(std::memory_order_acquire); }
  ServerError GetLastErrorCode() const override { return lastError_.load(std::memory_order_acquire); }
  const char* GetLastErrorText() const override;

  bool Send(uint32_t connectionId, const uint8_t* data, int32_t length, int32_t offset = 0) override;
  bool SendBuffers(uint32_t connectionId, const BufferView buffers[], int32_t count) override;
  bool SendMappedFile(uint32_t connectionId, const char* fileName, const BufferView* head = nullptr,
                      const BufferView* tail = nullptr) override;
  bool SetReceivePaused(uint32_t connectionId, bool paused) override;
  bool Disconnect(uint32_t connectionId, bool force = true) override;
  bool DisconnectByAge(uint32_t periodMs, bool force = true) override;
  bool DisconnectIdle(uint32_t periodMs, bool force = true) override;

  bool SetConnectionExtra(uint32_t connectionId, void* extra) override;
  bool GetConnectionExtra(uint32_t connectionId, void*& extra) const override;
  uint32_t CountConnections() const override { return connections_.Count(); }
  bool GetConnectionIds(uint32_t ids[], uint32_t& count) const override;
  bool GetConnectionAge(uint32_t connectionId, uint32_t& ageMs) const override;
  bool GetIdleTime(uint32_t connectionId, uint32_t& idleMs) const override;
  bool GetConnectionLocalAddress(uint32_t connectionId, char address[], int& length,
                                 uint16_t& port) const override;
  bool GetRemoteAddress(uint32_t connectionId, char address[], int& length, uint16_t& port) const override;
  bool GetListenAddress(char address[], int& length, uint16_t& port) const override;
  bool GetPendingSendLength(uint32_t connectionId, int32_t& length) const override;
  bool IsReceivePaused(uint32_t connectionId, bool& paused) const override;
  bool IsConnectionOpen(uint32_t connectionId) const override;

  void SetAddressReusePolicy(AddressReusePolicy value) override { properties_.SetAddressReusePolicy(value); }
  void SetSendPolicy(SendPolicy value) override { properties_.SetSendPolicy(value); }
  void SetSendEventLocking(SendEventLocking value) override { properties_.SetSendEventLocking(value); }
  void SetMaxConnections(uint32_t value) override { properties_.SetMaxConnections(value); }
  void SetReuseDelay(uint32_t value) override { properties_.SetReuseDelay(value); }
  void SetConnectionPoolSize(int32_t value) override { properties_.SetConnectionPoolSize(value); }
  void SetBlockPoolSize(int32_t value) override { properties_.SetBlockPoolSize(value); }
  void SetConnectionPoolHold(int32_t value) override { properties_.SetConnectionPoolHold(value); }
  void SetBlockPoolHold(int32_t value) override { properties_.SetBlockPoolHold(value); }
  void SetWorkerThreadCount(uint32_t value) override { properties_.SetWorkerThreadCount(value); }
  void SetTrackSilence(bool value) override { properties_.SetTrackSilence(value); }
  void SetPendingAcceptCount(uint32_t value) override { properties_.SetPendingAcceptCount(value); }
  void SetBufferSize(int32_t value) override { properties_.SetBufferSize(value); }
  void SetListenBacklog(int32_t value) override { properties_.SetListenBacklog(value); }
  void SetKeepAliveTime(uint32_t value) override { properties_.SetKeepAliveTime(value); }
  void SetKeepAliveInterval(uint32_t value) override { properties_.SetKeepAliveInterval(value); }
  void SetNoDelay(bool value) override { properties_.SetNoDelay(value); }

  AddressReusePolicy GetAddressReusePolicy() const override { return properties_.GetAddressReusePolicy(); }
  SendPolicy GetSendPolicy() const override { return properties_.GetSendPolicy(); }
  SendEventLocking GetSendEventLocking() const override { return properties_.GetSendEventLocking(); }
  uint32_t GetMaxConnections() const override { return properties_.GetMaxConnections(); }
  uint32_t GetReuseDelay() const override { return properties_.GetReuseDelay(); }
  int32_t GetConnectionPoolSize() const override { return properties_.GetConnectionPoolSize(); }
  int32_t GetBlockPoolSize() const override { return properties_.GetBlockPoolSize(); }
  int32_t GetConnectionPoolHold() const override { return properties_.GetConnectionPoolHold(); }
  int32_t GetBlockPoolHold() const override { return properties_.GetBlockPoolHold(); }
  uint32_t GetWorkerThreadCount() const override { return properties_.GetWorkerThreadCount(); }
  bool GetTrackSilence() const override { return properties_.GetTrackSilence(); }
  uint32_t GetPendingAcceptCount() const override { return properties_.GetPendingAcceptCount(); }
  int32_t GetBufferSize() const override { return properties_.GetBufferSize(); }
  int32_t GetListenBacklog() const override { return properties_.GetListenBacklog(); }
  uint32_t GetKeepAliveTime() const override { return properties_.GetKeepAliveTime(); }
  uint32_t GetKeepAliveInterval() const override { return properties_.GetKeepAliveInterval(); }
  bool GetNoDelay() const override { return properties_.GetNoDelay(); }

 protected:
  // The event layers. RaiseAccept raises OnAccept and, unless that gave Error, OnReady.
  virtual EventResult RaisePrepareListen(platform::SocketHandle listenSocket);
  virtual EventResult RaiseAccept(TcpConnection* connection);
  virtual EventResult RaiseReady(TcpConnection* connection);
  virtual EventResult RaiseReceiveLength(TcpConnection* connection, int32_t length);
  virtual EventResult RaiseReceive(TcpConnection* connection, const uint8_t* data, int32_t length);
  virtual EventResult RaiseSent(TcpConnection* connection, const uint8_t* data, int32_t length);
  virtual EventResult RaiseClose(TcpConnection* connection, SocketOp operation, uint32_t errorCode);
  virtual EventResult RaiseShutdown();
  virtual EventResult NotifyPrepareListen(platform::SocketHandle listenSocket);
  virtual EventResult NotifyAccept(TcpConnection* connection);
  virtual EventResult NotifyReady(TcpConnection* connection);
  virtual EventResult NotifyReceiveLength(TcpConnection* connection, int32_t length);
  virtual EventResult NotifyReceive(TcpConnection* connection, const uint8_t* data, int32_t length);
  virtual EventResult NotifySent(TcpConnection* connection, const uint8_t* data, int32_t length);
  virtual EventResult NotifyClose(TcpConnection* connection, SocketOp operation, uint32_t errorCode);
  virtual EventResult NotifyShutdown();

  // Steps of Start and Stop.
  virtual bool CheckSettings();
  virtual void PrepareResources();
  virtual void ResetState();
  // Asked before a paused connection receives again; Error closes it.
  virtual EventResult BeforeResumeReceive(TcpConnection* connection);
  virtual void WorkerStarted(uint32_t threadId);
  virtual void WorkerEnded(uint32_t threadId);

  const CServerProperties& Properties() const { return properties_; }
  ITcpServerListener* Listener() const { return listener_; }
  // The connection of the id when the calling thread is inside its receive event (where most
  // sends and fetches come from), so the id need not be looked up; otherwise null.
  TcpConnection* ReceivingConnection(uint32_t connectionId) const;
  // The server as its events name it.
  ITcpServer* Sender() { return this; }

 private:
  enum class CloseKind { Silent, Normal, Error };

  static const std::atomic<ServerState>& StateOf(const CTcpServer* server);
  // What became of bytes handed to the listener.
  enum class Delivery { Taken, Refused, Dropped };

  // Lifecycle (tcp_server.cpp).
  bool CreateListenSocket(const char* address, uint16_t port);
  bool CreateWorkerThreads();
  bool StartAccepting();
  // Stop's steps after the state has become Stopping.
  void TearDown();
  void StopWorkers();
  void SetLastError(ServerError code) { lastError_.store(code, std::memory_order_release); }

  // The thread function of a worker; it runs RunWorker between the two worker hooks.
  void WorkerLoop();

  // Worker loop, accept, receive and close (tcp_server_io.cpp).
  void RunWorker();
  void HandleCompletion(const platform::Completion& completion);
  void HandleCommand(uint32_t command, uint32_t connectionId);
  void HandleIo(uintptr_t key, CIoBlock* block, uint32_t bytes, uint32_t error);
  void PostAcceptCommand();
  void StartOneAccept();
  void AcceptCompleted(CIoBlock* block);
  void PostReceive(TcpConnection* connection, CIoBlock* block);
  // The next receive into the block, under the receive lock: 0 once started, otherwise the error.
  uint32_t StartReceiveLocked(TcpConnection* connection, CIoBlock* block);
  void ReceiveCompleted(TcpConnection* connection, CIoBlock* block);
  // Under the receive lock: a read without waiting into the block, on the socket of a connection
  // that is still valid.
  uint32_t ReadNow(TcpConnection* connection, CIoBlock* block, uint32_t& received);
  // Under the receive lock: raises the receive event for the bytes in the block, then sends what
  // the listener queued meanwhile.
  Delivery Deliver(TcpConnection* connection, CIoBlock* block, uint32_t& listenerError);
  // The connection whose receive event the calling worker raises, and whether the listener
  // queued bytes for it meanwhile. Those bytes are flushed by this worker as soon as the event
  // has returned, which saves a send command's trip through the port for every answer given
  // from inside OnReceive.
  static thread_local TcpConnection* t_receiving;
  static thread_local bool t_flushAfterReceive;
  void ResumeReceive(uint32_t connectionId);
  void Close(TcpConnection* connection, CloseKind kind, SocketOp operation = SocketOp::Close,
             uint32_t errorCode = 0);
  // A block of an operation that will not complete (again): a send block loses one reference.
  void ReleaseBlock(CIoBlock* block);

  // Disconnects every valid connection whose tick field since is at least periodMs old
  // (tcp_server_queries.cpp).
  void DisconnectQuietFor(uint32_t periodMs, std::atomic<uint32_t> TcpConnection::*since, bool force);

  // Send path (tcp_server_send.cpp).
  uint32_t QueueForSend(TcpConnection* connection, const uint8_t* data, int32_t length);
  uint32_t SendImmediately(TcpConnection* connection, const uint8_t* data, int32_t length);
  uint32_t IssueSend(TcpConnection* connection, CIoBlock* block);
  uint32_t Transmit(TcpConnection* connection);
  void Flush(TcpConnection* connection);
  void FlushBatched(TcpConnection* connection);
  void FlushPaced(TcpConnection* connection);
  void SendCompleted(TcpConnection* connection, CIoBlock* block);
  void DropSendReference(CIoBlock* block);
  int32_t SocketSendBufferSize(const TcpConnection* connection) const;
  // Whether a send the socket left pending has not completed yet.
  static bool SendStalled(const TcpConnection* connection);
  // Whether the bytes in flight are below (or at, with orEqual) the socket's send-buffer size.
  bool InFlightWithin(const TcpConnection* connection, bool orEqual) const;

  // The properties come first; they read the state to refuse changes while running.
  CServerProperties properties_;
  CManualResetEvent stopEvent_{true};
  platform::AcceptFunctions acceptFunctions_;
  uint16_t family_ = 0;
  ITcpServerListener* const listener_;
  std::atomic<platform::SocketHandle> listenSocket_{platform::kInvalidSocket};
  // Held while an accept is started and while the listen socket is closed, so no accept is
  // started on a socket being closed (or on a later socket that got its handle value).
  platform::SlimLock listenLock_;
  platform::CompletionPort port_;
  std::atomic<ServerState> state_{ServerState::Stopped};
  std::atomic<ServerError> lastError_{ServerError::Success};
  std::vector<std::thread> workers_;
  CBlockPoolT<CIoBlock> ioBlocks_;
  CSpinFlag stateLock_;
  ConnectionTable connections_{ioBlocks_};
  // Accepts outstanding or about to be posted; Stop waits for it to fall to 0.
  alignas(64) std::atomic<int32_t> pendingAccepts_{0};
  // Operations started on a socket whose completion has not been handled yet. Stop waits for
  // them before the workers leave, so no operation still writes into a block when the pool's
  // heap is released.
  alignas(64) std::atomic<int32_t> outstandingIo_{0};
  // Of those, the accepts. Once Stop's wait for the accepts has given up, the ones still
  // outstanding are taken as lost, and the wait for the other operations leaves them out.
  std::atomic<int32_t> outstandingAccepts_{0};
};

}  // namespace qolv::net

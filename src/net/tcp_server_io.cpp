// What the worker threads do: take completions and commands from the port, keep the accepts
// outstanding, turn accepted sockets into connections, receive, pause and resume, and close.
#include <mutex>

#include "net/fatal_error.h"
#include "net/socket_helpers.h"
#include "net/tcp_server.h"
#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

// The errors of an operation cut short by closing its socket: whoever closed it reports the close.
bool IsCloseInProgress(uint32_t error) {
  return error == err::kWsaNotSocket || error == err::kOperationAborted;
}

TcpConnection* ConnectionOfKey(uintptr_t key) { return reinterpret_cast<TcpConnection*>(key); }

char* BufferOf(CIoBlock* block) { return reinterpret_cast<char*>(block->bufferPointer); }

}  // namespace

void CTcpServer::RunWorker() {
  platform::Completion batch[kCompletionsPerWait];
  for (;;) {
    uint32_t count = 0;
    // Only a broken port fails an unlimited wait; nothing would ever arrive again.
    if (!port_.WaitMany(batch, kCompletionsPerWait, count, platform::kInfinite)) return;
    bool leaving = false;
    for (uint32_t i = 0; i < count; ++i) {
      const platform::Completion& completion = batch[i];
      if (completion.overlapped != nullptr || completion.bytes != ExitCommand) {
        HandleCompletion(completion);
      } else if (leaving) {
        // Stop posts one exit per worker; a second one taken here belongs to another worker.
        if (!port_.Post(ExitCommand, 0)) throw FatalError("an exit command could not be posted");
      } else {
        leaving = true;  // the rest of the batch was taken by this worker and is handled first
      }
    }
    if (leaving) return;
  }
}

void CTcpServer::HandleCompletion(const platform::Completion& completion) {
  if (completion.overlapped == nullptr) {
    HandleCommand(completion.bytes, static_cast<uint32_t>(completion.key));
    return;
  }
  CIoBlock* block = CIoBlock::FromOverlapped(completion.overlapped);
  uint32_t bytes = completion.bytes;
  uint32_t error = completion.ok ? err::kSuccess : completion.error;
  // The port's own code can be a generic one; the socket knows what really happened (a reset
  // peer, for instance). Once the server stops, sockets are being closed and the port's code
  // is all there is.
  if (error != err::kSuccess && IsRunning()) {
    const platform::SocketHandle socket = block->operation == SocketOp::Accept
                                              ? static_cast<platform::SocketHandle>(completion.key)
                                              : block->socket;
    uint32_t transferred = 0;
    error = platform::OverlappedResult(socket, completion.overlapped, &transferred);
    if (error == err::kSuccess) bytes = transferred;
  }
  HandleIo(completion.key, block, bytes, error);
}

void CTcpServer::HandleCommand(uint32_t command, uint32_t connectionId) {
  switch (command) {
    case AcceptCommand:
      StartOneAccept();
      break;
    case DisconnectCommand:
      Close(connections_.Find(connectionId), CloseKind::Normal);
      break;
    case SendCommand:
      if (TcpConnection* connection = connections_.FindValid(connectionId)) Flush(connection);
      break;
    case ResumeReceiveCommand:
      ResumeReceive(connectionId);
      break;
    default:
      // An error command: an immediate send failed with this error.
      if (!IsCloseInProgress(command)) {
        Close(connections_.Find(connectionId), CloseKind::Error, SocketOp::Close, command);
      }
      break;
  }
}

void CTcpServer::HandleIo(uintptr_t key, CIoBlock* block, uint32_t bytes, uint32_t error) {
  const SocketOp operation = block->operation;
  // The accepts first: Stop reads the two the other way round, so it never counts too few of
  // the other operations.
  if (operation == SocketOp::Accept) outstandingAccepts_.fetch_sub(1, std::memory_order_acq_rel);
  if (operation == SocketOp::Accept && error == err::kSuccess) {
    // Still counted as outstanding while its connection is entered, so that Stop's drain waits
    // for the receive this posts instead of finding nothing outstanding in between.
    block->bufferLength = bytes;
    AcceptCompleted(block);
    outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
    return;
  }
  outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
  if (error != err::kSuccess) {
    if (operation == SocketOp::Accept) {
      // The accept is lost, not the slot: its socket goes and a new accept takes its place.
      CloseSocketEx(block->socket);
      block->socket = platform::kInvalidSocket;
      PostAcceptCommand();
    } else if (!IsCloseInProgress(error)) {
      Close(ConnectionOfKey(key), CloseKind::Error, operation, error);
    }
    ReleaseBlock(block);
    return;
  }
  if (bytes == 0) {
    Close(ConnectionOfKey(key), CloseKind::Normal);
    ReleaseBlock(block);
    return;
  }
  block->bufferLength = bytes;
  if (operation == SocketOp::Send) {
    SendCompleted(ConnectionOfKey(key), block);
  } else {
    ReceiveCompleted(ConnectionOfKey(key), block);
  }
}

void CTcpServer::ReleaseBlock(CIoBlock* block) {
  if (block->operation == SocketOp::Send) {
    DropSendReference(block);
  } else {
    ioBlocks_.RecycleBlock(block);
  }
}

void CTcpServer::PostAcceptCommand() {
  if (!port_.Post(AcceptCommand, 0)) throw FatalError("an accept command could not be posted");
}

void CTcpServer::StartOneAccept() {
  if (!IsRunning()) {
    pendingAccepts_.fetch_sub(1, std::memory_order_acq_rel);
    return;
  }
  CIoBlock* block = ioBlocks_.ObtainBlock();
  block->bufferLength = static_cast<uint32_t>(properties_.GetBufferSize());
  block->operation = SocketOp::Accept;
  outstandingIo_.fetch_add(1, std::memory_order_acq_rel);
  outstandingAccepts_.fetch_add(1, std::memory_order_acq_rel);
  // A recycled block still names the socket of its last operation.
  block->socket = platform::kInvalidSocket;
  uint32_t error = err::kWsaNotSocket;
  {
    std::lock_guard<platform::SlimLock> listening(listenLock_);
    const platform::SocketHandle listenSocket = listenSocket_.load(std::memory_order_acquire);
    if (listenSocket != platform::kInvalidSocket) {
      error = platform::StartAccept(acceptFunctions_, listenSocket, family_, &block->overlapped,
                                    BufferOf(block), &block->socket);
    }
  }
  if (error == err::kSuccess) return;
  outstandingAccepts_.fetch_sub(1, std::memory_order_acq_rel);
  outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
  CloseSocketEx(block->socket);
  block->socket = platform::kInvalidSocket;
  ioBlocks_.RecycleBlock(block);
  if (!IsRunning()) {
    pendingAccepts_.fetch_sub(1, std::memory_order_acq_rel);
    return;
  }
  // A client that gave up while its connection was being accepted costs that one accept only.
  if (error == err::kWsaConnectionReset) {
    PostAcceptCommand();
    return;
  }
  throw FatalError("an accept could not be started while the server runs");
}

void CTcpServer::AcceptCompleted(CIoBlock* block) {
  platform::SockAddr local{};
  platform::SockAddr remote{};
  platform::ReadAcceptAddresses(acceptFunctions_, BufferOf(block), family_, local, remote);
  const platform::SocketHandle socket = block->socket;
  block->socket = platform::kInvalidSocket;
  uint32_t id = 0;
  if (!IsRunning() || !connections_.Reserve(id)) {
    // Stopping, or every slot taken: the client sees its connection closed, the listener
    // hears nothing.
    CloseSocketEx(socket, kShutdownBoth);
    ioBlocks_.RecycleBlock(block);
  } else {
    TcpConnection* connection = connections_.Obtain(id, socket);
    platform::UpdateAcceptContext(socket, listenSocket_.load(std::memory_order_acquire));
    // Associated before the id goes live: another thread may send on it at once.
    port_.Associate(socket, reinterpret_cast<uintptr_t>(connection));
    EventResult result;
    {
      std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
      connections_.Prepare(*connection, remote);
      platform::SetSystemError(err::kSuccess);
      result = RaiseAccept(connection);
    }
    if (result != EventResult::Error) {
      PostReceive(connection, block);
    } else {
      Close(connection, CloseKind::Silent);
      ioBlocks_.RecycleBlock(block);
    }
  }
  // The replacing accept is posted last, so the accepts Stop waits for include this one until
  // its connection is in the table, where Stop's disconnect finds it.
  PostAcceptCommand();
}

void CTcpServer::PostReceive(TcpConnection* connection, CIoBlock* block) {
  bool start = false;
  {
    std::lock_guard<CSpinFlag> flags(connection->receiveFlagLock);
    if (!connection->paused.load(std::memory_order_acquire) &&
        !connection->receivePosted.load(std::memory_order_acquire)) {
      connection->receivePosted.store(true, std::memory_order_release);
      start = true;
    }
  }
  if (!start) {
    ioBlocks_.RecycleBlock(block);
    return;
  }
  uint32_t error = err::kSuccess;
  {
    std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
    error = StartReceiveLocked(connection, block);
  }
  if (error == err::kSuccess) return;
  if (!IsCloseInProgress(error)) Close(connection, CloseKind::Error, SocketOp::Receive, error);
  ioBlocks_.RecycleBlock(block);
}

// A closed socket's handle value may be given to the next socket at once (on Windows), so an
// operation on a connection's socket starts only while the connection is valid under its
// receive lock: the close invalidates under that lock before it closes the socket. A closing
// connection answers 10038, as its closed socket would.
uint32_t CTcpServer::StartReceiveLocked(TcpConnection* connection, CIoBlock* block) {
  if (!connection->valid.load(std::memory_order_acquire)) return err::kWsaNotSocket;
  const uint32_t size = static_cast<uint32_t>(properties_.GetBufferSize());
  block->bufferLength = size;
  block->operation = SocketOp::Receive;
  block->socket = connection->socket.load(std::memory_order_acquire);
  outstandingIo_.fetch_add(1, std::memory_order_acq_rel);
  const uint32_t error = platform::StartReceive(block->socket, BufferOf(block), size, &block->overlapped);
  if (error != err::kSuccess) outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
  return error;
}

thread_local TcpConnection* CTcpServer::t_receiving = nullptr;
thread_local bool CTcpServer::t_flushAfterReceive = false;

CTcpServer::Delivery CTcpServer::Deliver(TcpConnection* connection, CIoBlock* block,
                                         uint32_t& listenerError) {
  if (!connection->valid.load(std::memory_order_acquire)) return Delivery::Dropped;
  t_receiving = connection;
  t_flushAfterReceive = false;
  platform::SetSystemError(err::kSuccess);
  const EventResult result =
      RaiseReceive(connection, block->bufferPointer, static_cast<int32_t>(block->bufferLength));
  t_receiving = nullptr;
  if (result == EventResult::Error) {
    listenerError = platform::GetSystemError();
    return Delivery::Refused;
  }
  if (t_flushAfterReceive) Flush(connection);
  return Delivery::Taken;
}

void CTcpServer::ReceiveCompleted(TcpConnection* connection, CIoBlock* block) {
  if (properties_.GetTrackSilence())
    connection->lastReceive.store(platform::TickCount(), std::memory_order_release);
  uint32_t listenerError = err::kSuccess;
  uint32_t readError = err::kSuccess;
  Delivery delivery = Delivery::Dropped;
  bool rearmed = false;
  // One hold of the receive lock covers the deliveries, the reads between them and the next
  // receive, instead of one for each of them.
  {
    std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
    delivery = Deliver(connection, block, listenerError);

    // A busy connection is read on without waiting, so one completion serves many buffers. A
    // read that did not fill the buffer found the socket empty already: asking again would only
    // be told so (would block), so reading on stops there.
    const uint32_t size = static_cast<uint32_t>(properties_.GetBufferSize());
    for (int read = 0; read < kFurtherReads && delivery == Delivery::Taken && block->bufferLength == size;
         ++read) {
      if (connection->paused.load(std::memory_order_acquire)) break;
      uint32_t received = 0;
      readError = ReadNow(connection, block, received);
      if (readError != err::kSuccess) break;
      if (received == 0) {
        readError = err::kWsaDisconnected;
        break;
      }
      block->bufferLength = received;
      delivery = Deliver(connection, block, listenerError);
    }

    if (delivery == Delivery::Taken && (readError == err::kSuccess || readError == err::kWsaWouldBlock)) {
      // The receive stays posted and its block goes out again, unless the connection was paused
      // meanwhile; then resuming posts the next one.
      bool again = false;
      {
        std::lock_guard<CSpinFlag> flags(connection->receiveFlagLock);
        again = !connection->paused.load(std::memory_order_acquire);
        if (!again) connection->receivePosted.store(false, std::memory_order_release);
      }
      readError = again ? StartReceiveLocked(connection, block) : err::kSuccess;
      rearmed = again && readError == err::kSuccess;
    }
  }
  if (rearmed) return;

  if (delivery == Delivery::Dropped) {
    ioBlocks_.RecycleBlock(block);
  } else if (delivery == Delivery::Refused) {
    Close(connection, CloseKind::Error, SocketOp::Receive,
          listenerError != err::kSuccess ? listenerError : err::kCancelled);
    ioBlocks_.RecycleBlock(block);
  } else {
    if (readError == err::kWsaDisconnected) {
      Close(connection, CloseKind::Normal);
    } else if (readError != err::kSuccess && !IsCloseInProgress(readError)) {
      Close(connection, CloseKind::Error, SocketOp::Receive, readError);
    }
    ioBlocks_.RecycleBlock(block);
  }
}

// Called under the receive lock (see StartReceiveLocked).
uint32_t CTcpServer::ReadNow(TcpConnection* connection, CIoBlock* block, uint32_t& received) {
  if (!connection->valid.load(std::memory_order_acquire)) return err::kWsaNotSocket;
  return platform::ReceiveNow(block->socket, BufferOf(block),
                              static_cast<uint32_t>(properties_.GetBufferSize()), &received);
}

bool CTcpServer::SetReceivePaused(uint32_t connectionId, bool paused) {
  TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) {
    platform::SetSystemError(err::kObjectNotFound);
    return false;
  }
  bool resumed = false;
  {
    std::lock_guard<CSpinFlag> flags(connection->receiveFlagLock);
    if (connection->paused.load(std::memory_order_acquire) != paused) {
      resumed = !paused;
      connection->paused.store(paused, std::memory_order_release);
    }
  }
  if (resumed && !port_.Post(ResumeReceiveCommand, connectionId)) return false;
  return true;
}

void CTcpServer::ResumeReceive(uint32_t connectionId) {
  TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) return;
  platform::SetSystemError(err::kSuccess);
  if (BeforeResumeReceive(connection) == EventResult::Error) {
    const uint32_t error = platform::GetSystemError();
    Close(connection, CloseKind::Error, SocketOp::Receive, error != err::kSuccess ? error : err::kCancelled);
    return;
  }
  PostReceive(connection, ioBlocks_.ObtainBlock());
}

bool CTcpServer::Disconnect(uint32_t connectionId, bool) {
  if (connections_.FindValid(connectionId) == nullptr) {
    platform::SetSystemError(err::kObjectNotFound);
    return false;
  }
  return port_.Post(DisconnectCommand, connectionId);
}

void CTcpServer::Close(TcpConnection* connection, CloseKind kind, SocketOp operation, uint32_t errorCode) {
  // Exactly one caller gets past the invalidation, so each connection is closed once.
  if (connection == nullptr || !connection->Invalidate()) return;
  if (kind != CloseKind::Silent) {
    std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
    if (kind == CloseKind::Normal) {
      RaiseClose(connection, SocketOp::Close, err::kSuccess);
    } else {
      RaiseClose(connection, operation, errorCode);
    }
  }
  CloseSocketEx(connection->socket.exchange(platform::kInvalidSocket), kShutdownSend);
  connections_.Release(*connection);
}

}  // namespace qolv::net

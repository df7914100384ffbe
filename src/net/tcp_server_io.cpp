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
  for (;;) {
    platform::Completion completion;
    // Only a broken port fails an unlimited wait; nothing would ever arrive again.
    if (!port_.Wait(completion, platform::kInfinite)) return;
    if (completion.overlapped == nullptr) {
      if (completion.bytes == ExitCommand) return;
      HandleCommand(completion.bytes, static_cast<uint32_t>(completion.key));
      continue;
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
  outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
  const SocketOp operation = block->operation;
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
  if (bytes == 0 && operation != SocketOp::Accept) {
    Close(ConnectionOfKey(key), CloseKind::Normal);
    ReleaseBlock(block);
    return;
  }
  block->bufferLength = bytes;
  switch (operation) {
    case SocketOp::Accept:
      AcceptCompleted(block);
      break;
    case SocketOp::Send:
      SendCompleted(ConnectionOfKey(key), block);
      break;
    default:
      ReceiveCompleted(ConnectionOfKey(key), block);
      break;
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
  const uint32_t error =
      platform::StartAccept(acceptFunctions_, listenSocket_.load(std::memory_order_acquire), family_,
                            &block->overlapped, BufferOf(block), &block->socket);
  if (error == err::kSuccess) return;
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
      std::lock_guard<std::recursive_mutex> receiving(connection->receiveLock);
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
  const uint32_t size = static_cast<uint32_t>(properties_.GetBufferSize());
  block->bufferLength = size;
  block->operation = SocketOp::Receive;
  block->socket = connection->socket.load(std::memory_order_acquire);
  outstandingIo_.fetch_add(1, std::memory_order_acq_rel);
  const uint32_t error = platform::StartReceive(block->socket, BufferOf(block), size, &block->overlapped);
  if (error == err::kSuccess) return;
  outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
  if (!IsCloseInProgress(error)) Close(connection, CloseKind::Error, SocketOp::Receive, error);
  ioBlocks_.RecycleBlock(block);
}

thread_local TcpConnection* CTcpServer::t_receiving = nullptr;
thread_local bool CTcpServer::t_flushAfterReceive = false;

CTcpServer::Delivery CTcpServer::Deliver(TcpConnection* connection, CIoBlock* block,
                                         uint32_t& listenerError) {
  if (!connection->valid.load(std::memory_order_acquire)) return Delivery::Dropped;
  Delivery delivery = Delivery::Taken;
  {
    std::lock_guard<std::recursive_mutex> receiving(connection->receiveLock);
    if (!connection->valid.load(std::memory_order_acquire)) return Delivery::Dropped;
    t_receiving = connection;
    t_flushAfterReceive = false;
    platform::SetSystemError(err::kSuccess);
    const EventResult result =
        RaiseReceive(connection, block->bufferPointer, static_cast<int32_t>(block->bufferLength));
    t_receiving = nullptr;
    if (result == EventResult::Error) {
      listenerError = platform::GetSystemError();
      delivery = Delivery::Refused;
    }
  }
  if (t_flushAfterReceive) Flush(connection);
  return delivery;
}

void CTcpServer::ReceiveCompleted(TcpConnection* connection, CIoBlock* block) {
  if (properties_.GetTrackSilence())
    connection->lastReceive.store(platform::TickCount(), std::memory_order_release);
  uint32_t listenerError = err::kSuccess;
  Delivery delivery = Deliver(connection, block, listenerError);

  // A busy connection is read on without waiting, so one completion serves many buffers. A read
  // that did not fill the buffer found the socket empty already: asking again would only be
  // told so (would block), so reading on stops there.
  uint32_t readError = err::kSuccess;
  const platform::SocketHandle socket = block->socket;
  const uint32_t size = static_cast<uint32_t>(properties_.GetBufferSize());
  for (int read = 0; read < kFurtherReads && delivery == Delivery::Taken && block->bufferLength == size;
       ++read) {
    if (connection->paused.load(std::memory_order_acquire)) break;
    uint32_t received = 0;
    readError = platform::ReceiveNow(socket, BufferOf(block), size, &received);
    if (readError != err::kSuccess) break;
    if (received == 0) {
      readError = err::kWsaDisconnected;
      break;
    }
    block->bufferLength = received;
    delivery = Deliver(connection, block, listenerError);
  }

  if (delivery == Delivery::Dropped) {
    ioBlocks_.RecycleBlock(block);
  } else if (delivery == Delivery::Refused) {
    Close(connection, CloseKind::Error, SocketOp::Receive,
          listenerError != err::kSuccess ? listenerError : err::kCancelled);
    ioBlocks_.RecycleBlock(block);
  } else if (readError == err::kSuccess || readError == err::kWsaWouldBlock) {
    {
      std::lock_guard<CSpinFlag> flags(connection->receiveFlagLock);
      connection->receivePosted.store(false, std::memory_order_release);
    }
    PostReceive(connection, block);
  } else {
    if (readError == err::kWsaDisconnected) {
      Close(connection, CloseKind::Normal);
    } else if (!IsCloseInProgress(readError)) {
      Close(connection, CloseKind::Error, SocketOp::Receive, readError);
    }
    ioBlocks_.RecycleBlock(block);
  }
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
    std::lock_guard<std::recursive_mutex> receiving(connection->receiveLock);
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

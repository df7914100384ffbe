// The send path: bytes are copied into I/O blocks before Send returns, then queued and flushed
// (Batched, Paced) or issued at once (Immediate); completions account for them and raise OnSent.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "net/tcp_server.h"
#include "platform/error_codes.h"
#include "platform/mapped_file.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

// Used when the socket will not tell its send-buffer size.
constexpr int32_t kDefaultSendBufferSize = 16384;
// The largest file, head and tail together, that one mapped-file send takes.
constexpr uint64_t kMappedSendLimit = 0x3FFFFF;

bool IsCloseInProgress(uint32_t error) {
  return error == err::kWsaNotSocket || error == err::kOperationAborted;
}

uint32_t LengthOf(const BufferView* buffer) { return buffer != nullptr ? buffer->length : 0; }

// Under Batched and Paced the queued bytes change only under the send lock, so a plain store
// does what a locked add would, and readers without the lock still see whole values.
void AddUnderSendLock(std::atomic<int32_t>& counter, int32_t change) {
  counter.store(counter.load(std::memory_order_relaxed) + change, std::memory_order_release);
}

}  // namespace

bool CTcpServer::Send(uint32_t connectionId, const uint8_t* data, int32_t length, int32_t offset) {
  const BufferView buffer{static_cast<uint32_t>(length), data + offset};
  return SendBuffers(connectionId, &buffer, 1);
}

bool CTcpServer::SendBuffers(uint32_t connectionId, const BufferView buffers[], int32_t count) {
  TcpConnection* connection = ReceivingConnection(connectionId);
  if (connection == nullptr) connection = connections_.FindValid(connectionId);
  if (connection == nullptr) {
    platform::SetSystemError(err::kObjectNotFound);
    return false;
  }
  const SendPolicy policy = properties_.GetSendPolicy();
  uint32_t error = err::kSuccess;
  if (buffers == nullptr || count <= 0) {
    error = err::kInvalidParameter;
  } else {
    std::lock_guard<CRecursiveLock> sending(connection->sendLock);
    if (!connection->valid.load(std::memory_order_acquire)) {
      error = err::kObjectNotFound;
    } else {
      for (int32_t i = 0; i < count && error == err::kSuccess; ++i) {
        const auto length = static_cast<int32_t>(buffers[i].length);
        if (length <= 0) continue;
        switch (policy) {
          case SendPolicy::Batched:
          case SendPolicy::Paced:
            error = QueueForSend(connection, buffers[i].data, length);
            break;
          case SendPolicy::Immediate:
            error = SendImmediately(connection, buffers[i].data, length);
            break;
          default:
            error = err::kInvalidIndex;
            break;
        }
      }
    }
  }
  if (error == err::kSuccess) return true;
  // An immediate send that fails ends the connection; a worker closes it with the error.
  if (policy == SendPolicy::Immediate && connection->valid.load(std::memory_order_acquire)) {
    port_.Post(error, connectionId);
  }
  platform::SetSystemError(error);
  return false;
}

uint32_t CTcpServer::QueueForSend(TcpConnection* connection, const uint8_t* data, int32_t length) {
  connection->sendChain.Append(data, length);
  AddUnderSendLock(connection->pendingBytes, length);
  if (connection->sendFlag.load(std::memory_order_acquire) != 1 || !InFlightWithin(connection, true)) {
    return err::kSuccess;
  }
  if (t_receiving == connection) {
    t_flushAfterReceive = true;
  } else if (!port_.Post(SendCommand, connection->connectionId.load(std::memory_order_acquire))) {
    return platform::GetSystemError();
  }
  return err::kSuccess;
}

uint32_t CTcpServer::SendImmediately(TcpConnection* connection, const uint8_t* data, int32_t length) {
  const int32_t chunkLimit = properties_.GetBufferSize();
  while (length > 0) {
    const int32_t chunk = std::min(length, chunkLimit);
    CIoBlock* block = ioBlocks_.ObtainBlock();
    std::memcpy(block->bufferPointer, data, static_cast<size_t>(chunk));
    block->bufferLength = static_cast<uint32_t>(chunk);
    connection->pendingBytes.fetch_add(chunk, std::memory_order_acq_rel);
    const uint32_t error = IssueSend(connection, block);
    if (error != err::kSuccess && error != err::kIoPending) {
      connection->pendingBytes.fetch_sub(chunk, std::memory_order_acq_rel);
      return error;
    }
    data += chunk;
    length -= chunk;
  }
  return err::kSuccess;
}

uint32_t CTcpServer::IssueSend(TcpConnection* connection, CIoBlock* block) {
  block->operation = SocketOp::Send;
  block->socket = connection->socket.load(std::memory_order_acquire);
  // One reference for this thread, one for the completion, which another worker may handle
  // before StartSend has even returned here.
  block->sendReferences.store(2, std::memory_order_release);
  outstandingIo_.fetch_add(1, std::memory_order_acq_rel);
  const uint32_t result =
      platform::StartSend(block->socket, reinterpret_cast<const char*>(block->bufferPointer),
                          block->bufferLength, &block->overlapped);
  if (result == err::kSuccess || result == err::kIoPending) {
    DropSendReference(block);
  } else {
    // No completion follows a send that failed at once.
    outstandingIo_.fetch_sub(1, std::memory_order_acq_rel);
    ioBlocks_.RecycleBlock(block);
  }
  return result;
}

void CTcpServer::DropSendReference(CIoBlock* block) {
  if (block->sendReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) ioBlocks_.RecycleBlock(block);
}

uint32_t CTcpServer::Transmit(TcpConnection* connection) {
  while (CIoBlock* block = connection->sendChain.PopFront()) {
    const auto length = static_cast<int32_t>(block->bufferLength);
    AddUnderSendLock(connection->pendingBytes, -length);
    connection->inFlightBytes.fetch_add(length, std::memory_order_acq_rel);
    const uint32_t number = connection->sendsIssued.load(std::memory_order_relaxed) + 1;
    connection->sendsIssued.store(number, std::memory_order_release);
    // A send left pending ends this round: the socket has no room for more just now, and it gets
    // none until that send completes.
    const uint32_t result = IssueSend(connection, block);
    if (result == err::kIoPending) {
      connection->sendStall.store(number, std::memory_order_release);
    } else if (result != err::kSuccess) {
      connection->sendsDone.fetch_add(1, std::memory_order_acq_rel);  // no completion follows
    }
    if (result != err::kSuccess) return result;
  }
  return err::kSuccess;
}

int32_t CTcpServer::SocketSendBufferSize(const TcpConnection* connection) const {
  const int32_t size = platform::SendBufferSize(connection->socket.load(std::memory_order_acquire));
  return size > 0 ? size : kDefaultSendBufferSize;
}

bool CTcpServer::SendStalled(const TcpConnection* connection) {
  const uint32_t done = connection->sendsDone.load(std::memory_order_acquire);
  return static_cast<int32_t>(done - connection->sendStall.load(std::memory_order_acquire)) < 0;
}

// The send-buffer size is at least 1, so with nothing in flight the comparisons below are
// decided without asking the socket; that keeps a system call off every send of an idle
// connection.
bool CTcpServer::InFlightWithin(const TcpConnection* connection, bool orEqual) const {
  const int32_t inFlight = connection->inFlightBytes.load(std::memory_order_acquire);
  if (inFlight <= 0) return true;
  const int32_t size = SocketSendBufferSize(connection);
  return orEqual ? inFlight <= size : inFlight < size;
}

void CTcpServer::Flush(TcpConnection* connection) {
  switch (properties_.GetSendPolicy()) {
    case SendPolicy::Batched:
      FlushBatched(connection);
      break;
    case SendPolicy::Paced:
      FlushPaced(connection);
      break;
    default:
      break;
  }
}

void CTcpServer::FlushBatched(TcpConnection* connection) {
  if (connection->pendingBytes.load(std::memory_order_acquire) <= 0 || !InFlightWithin(connection, true) ||
      SendStalled(connection)) {
    return;  // nothing to send, or the socket holds enough: a later completion flushes again
  }
  int32_t idle = 1;
  if (!connection->sendFlag.compare_exchange_strong(idle, 0, std::memory_order_acq_rel)) return;
  uint32_t result = err::kSuccess;
  {
    std::lock_guard<CRecursiveLock> sending(connection->sendLock);
    if (!connection->valid.load(std::memory_order_acquire)) return;
    if (connection->pendingBytes.load(std::memory_order_acquire) > 0) result = Transmit(connection);
    connection->sendFlag.store(1, std::memory_order_release);
  }
  if (result == err::kIoPending) {
    // The rest of the chain goes out on a following flush.
    if (connection->sendFlag.load(std::memory_order_acquire) == 1) {
      port_.Post(SendCommand, connection->connectionId.load(std::memory_order_acquire));
    }
  } else if (result != err::kSuccess && !IsCloseInProgress(result)) {
    Close(connection, CloseKind::Error, SocketOp::Send, result);
  }
}

void CTcpServer::FlushPaced(TcpConnection* connection) {
  if (connection->sendFlag.load(std::memory_order_acquire) == 0 && InFlightWithin(connection, false)) {
    std::lock_guard<CRecursiveLock> sending(connection->sendLock);
    if (!connection->valid.load(std::memory_order_acquire)) return;
    if (InFlightWithin(connection, false)) {
      connection->sendFlag.store(1, std::memory_order_release);
    }
  }
  uint32_t result = err::kSuccess;
  if (connection->pendingBytes.load(std::memory_order_acquire) > 0 &&
      connection->sendFlag.load(std::memory_order_acquire) == 1 && !SendStalled(connection)) {
    std::lock_guard<CRecursiveLock> sending(connection->sendLock);
    if (!connection->valid.load(std::memory_order_acquire)) return;
    if (connection->pendingBytes.load(std::memory_order_acquire) > 0 &&
        connection->sendFlag.load(std::memory_order_acquire) == 1) {
      // Nothing more goes out until completions bring the bytes in flight down again.
      connection->sendFlag.store(0, std::memory_order_release);
      result = Transmit(connection);
      if (result == err::kSuccess) connection->sendFlag.store(1, std::memory_order_release);
    }
  }
  if (result != err::kSuccess && result != err::kIoPending && !IsCloseInProgress(result)) {
    Close(connection, CloseKind::Error, SocketOp::Send, result);
  }
}

void CTcpServer::SendCompleted(TcpConnection* connection, CIoBlock* block) {
  const SendPolicy policy = properties_.GetSendPolicy();
  const auto sent = static_cast<int32_t>(block->bufferLength);
  if (policy == SendPolicy::Immediate) {
    connection->pendingBytes.fetch_sub(sent, std::memory_order_acq_rel);
  } else {
    connection->inFlightBytes.fetch_sub(sent, std::memory_order_acq_rel);
    connection->sendsDone.fetch_add(1, std::memory_order_acq_rel);
  }
  const auto raise = [&] {
    platform::SetSystemError(err::kSuccess);
    RaiseSent(connection, block->bufferPointer, sent);
  };
  switch (properties_.GetSendEventLocking()) {
    case SendEventLocking::UnderSendLock:
      if (connection->valid.load(std::memory_order_acquire)) {
        std::lock_guard<CRecursiveLock> sending(connection->sendLock);
        if (connection->valid.load(std::memory_order_acquire)) raise();
      }
      break;
    case SendEventLocking::UnderReceiveLock:
      if (connection->valid.load(std::memory_order_acquire)) {
        std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
        if (connection->valid.load(std::memory_order_acquire)) raise();
      }
      break;
    default:
      raise();
      break;
  }
  DropSendReference(block);
  Flush(connection);
}

bool CTcpServer::SendMappedFile(uint32_t connectionId, const char* fileName, const BufferView* head,
                                const BufferView* tail) {
  platform::MappedFile file;
  uint32_t error = file.Open(fileName);
  if (error == err::kSuccess) {
    const uint64_t size = file.Size();
    const uint64_t wrapping = uint64_t{LengthOf(head)} + LengthOf(tail);
    if (size == 0) {
      error = err::kFileInvalid;
    } else if (size > 0xFFFFFFFFu || wrapping > kMappedSendLimit || size > kMappedSendLimit - wrapping) {
      error = err::kFileTooLarge;
    } else {
      error = file.Map();
    }
  }
  if (error != err::kSuccess) {
    platform::SetSystemError(error & 0xFFFFu);
    return false;
  }
  const BufferView empty{0, nullptr};
  const BufferView buffers[3] = {head != nullptr ? *head : empty,
                                 {static_cast<uint32_t>(file.Size()), file.Data()},
                                 tail != nullptr ? *tail : empty};
  return SendBuffers(connectionId, buffers, 3);
}

}  // namespace qolv::net

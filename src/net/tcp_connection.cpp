#include "net/tcp_connection.h"

#include <new>

namespace qolv::net {

TcpConnection* TcpConnection::Create(CHeapArena& arena, CBlockPoolT<CIoBlock>& ioBlocks) {
  return new (arena.Allocate(sizeof(TcpConnection))) TcpConnection(&arena, &ioBlocks);
}

void TcpConnection::Destroy(TcpConnection* connection) {
  CHeapArena* arena = connection->arena;
  connection->sendChain.FreeAll();
  connection->~TcpConnection();
  arena->Free(connection);
}

void TcpConnection::Reset(uint32_t id, platform::SocketHandle acceptedSocket) {
  connectionId.store(id, std::memory_order_release);
  connected.store(false, std::memory_order_release);
  valid.store(true, std::memory_order_release);
  sendFlag.store(1, std::memory_order_release);
  paused.store(false, std::memory_order_release);
  receivePosted.store(false, std::memory_order_release);
  pendingBytes.store(0, std::memory_order_release);
  inFlightBytes.store(0, std::memory_order_release);
  sendsIssued.store(0, std::memory_order_release);
  sendsDone.store(0, std::memory_order_release);
  sendStall.store(0, std::memory_order_release);
  extra.store(nullptr, std::memory_order_release);
  reserved = nullptr;
  socket.store(acceptedSocket, std::memory_order_release);
}

bool TcpConnection::Invalidate() {
  if (!valid.load(std::memory_order_acquire)) return false;
  connected.store(false, std::memory_order_release);
  std::lock_guard<CRecursiveLock> receiving(receiveLock);
  std::lock_guard<CRecursiveLock> sending(sendLock);
  return valid.exchange(false, std::memory_order_acq_rel);
}

}  // namespace qolv::net

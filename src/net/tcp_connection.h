#pragma once
// The engine's object for one accepted connection. The application knows it only by its id.
// Objects live in the connection heap and are recycled through the connection table; a late
// completion may read one after its close, so fields the engine changes without a lock are
// atomic. Locks are taken receive lock before send lock, never the other way round; the receive
// flag lock is only held alone and briefly.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "net/block_chain.h"
#include "net/heap_arena.h"
#include "net/recursive_lock.h"
#include "net/spin_flag.h"
#include "platform/socket_types.h"

namespace qolv::net {

class TcpConnection {
 public:
  // A new object in the connection heap whose send chain takes blocks from ioBlocks.
  static TcpConnection* Create(CHeapArena& arena, CBlockPoolT<CIoBlock>& ioBlocks);
  // Frees the send chain's blocks without recycling them and the object to its heap.
  static void Destroy(TcpConnection* connection);
  static uint32_t FreeTime(const TcpConnection* connection) {
    return connection->time.load(std::memory_order_acquire);
  }

  // Gives the object a new identity for an accepted socket.
  void Reset(uint32_t id, platform::SocketHandle acceptedSocket);

  // The first step of every close: true for exactly one caller, who then closes the connection.
  // Clears connected, then decides under the receive and the send lock.
  bool Invalidate();

  CHeapArena* arena;
  std::atomic<uint32_t> connectionId{0};
  platform::SockAddr remoteAddress{};
  std::atomic<void*> extra{nullptr};  // the application's pointer
  void* reserved = nullptr;           // the pull server's receive buffer
  std::atomic<bool> valid{false};     // true from Reset until the close begins
  // While live: the accept time; after the close: the release time the reuse delay runs from.
  std::atomic<uint32_t> time{0};
  std::atomic<uint32_t> lastReceive{0};
  std::atomic<int32_t> sendFlag{1};  // gate of the send path; its meaning follows the send policy
  // Under Batched and Paced changed under the send lock only; Immediate's completions change it
  // without the lock.
  std::atomic<int32_t> pendingBytes{0};
  std::atomic<int32_t> inFlightBytes{0};
  // Sends handed to the socket (changed under the send lock only) and completions handled,
  // counted in 32-bit wrap-around. While the send numbered sendStall has not completed, the
  // socket has no room: no flush hands it more, so bytes queued meanwhile share blocks instead of
  // each waiting in a block of its own.
  std::atomic<uint32_t> sendsIssued{0};
  std::atomic<uint32_t> sendsDone{0};
  std::atomic<uint32_t> sendStall{0};
  std::atomic<bool> connected{false};
  std::atomic<bool> paused{false};         // changed under receiveFlagLock
  std::atomic<bool> receivePosted{false};  // changed under receiveFlagLock
  // Re-entrant, so a listener may send or disconnect from inside an event of the same connection.
  CRecursiveLock receiveLock;
  CRecursiveLock sendLock;
  CSpinFlag receiveFlagLock;
  std::atomic<platform::SocketHandle> socket{platform::kInvalidSocket};
  CIoBlockChain sendChain;

 private:
  TcpConnection(CHeapArena* owner, CBlockPoolT<CIoBlock>* ioBlocks) : arena(owner), sendChain(ioBlocks) {}
};

}  // namespace qolv::net

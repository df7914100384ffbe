#pragma once
// The live connections of a server by id, and what their objects' life needs: the connection
// heap, the id table and the delayed recycling of released objects. Ids are generation * N +
// slot + 1 with N = MaxConnections; a live id maps to an object, and a valid connection is a
// live one whose close has not begun.
#include <cstdint>
#include <vector>

#include "net/block_pool.h"
#include "net/heap_arena.h"
#include "net/id_slot_table.h"
#include "net/io_block.h"
#include "net/object_recycler.h"
#include "net/tcp_connection.h"
#include "platform/socket_types.h"

namespace qolv::net {

class CServerProperties;

class ConnectionTable {
 public:
  // Fresh objects take their send blocks from ioBlocks, the server's I/O block pool.
  explicit ConnectionTable(CBlockPoolT<CIoBlock>& ioBlocks);
  ~ConnectionTable();
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  // Sizes the table for a run from MaxConnections, ConnectionPoolSize and ReuseDelay; every
  // slot's generation starts at 0 again, so the run issues ids from 1. Only while no worker runs.
  void Reset(const CServerProperties& properties);

  // Reserves a slot for an accepted socket; false when MaxConnections slots are taken. The id
  // does not resolve before Prepare.
  bool Reserve(uint32_t& id);
  // The object for a reserved id: one that has rested the reuse delay, or a new one.
  TcpConnection* Obtain(uint32_t id, platform::SocketHandle socket);
  // Records the accept (time, remote address, connected) and makes the id live. Called under the
  // connection's receive lock; throws FatalError when the slot no longer holds the reservation.
  void Prepare(TcpConnection& connection, const platform::SockAddr& remoteAddress);

  // The object of a live id, or null.
  TcpConnection* Find(uint32_t id) const { return ids_.Get(id); }
  // The object of a live id whose close has not begun, or null.
  TcpConnection* FindValid(uint32_t id) const;

  // After the close: retires the id, recycles the send chain and puts the object to rest.
  void Release(TcpConnection& connection);

  // Live ids, in no promised order. locked: copied under the table's shared lock.
  std::vector<uint32_t> Snapshot(bool locked = true) const { return ids_.Snapshot(locked); }
  // Number of live ids.
  uint32_t Count() const { return ids_.KeyCount(); }
  // Reserved and live slots.
  int32_t Occupied() const { return ids_.Count(); }

  // The three steps of a stop, run after the workers have ended. ReleaseSlots drops the slots
  // and throws FatalError if a connection is still in the table; DestroyRested destroys the
  // resting objects; ResetArena releases the connection heap.
  void ReleaseSlots();
  void DestroyRested() { recycler_.DestroyAll(); }
  void ResetArena() { arena_.Reset(); }

 private:
  CBlockPoolT<CIoBlock>& ioBlocks_;
  CHeapArena arena_;
  CIdSlotTable<TcpConnection> ids_;
  CObjectRecyclerT<TcpConnection> recycler_;
};

}  // namespace qolv::net

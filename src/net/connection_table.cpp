#include "net/connection_table.h"

#include "net/fatal_error.h"
#include "net/server_properties.h"
#include "platform/clock.h"

namespace qolv::net {

ConnectionTable::ConnectionTable(CBlockPoolT<CIoBlock>& ioBlocks) : ioBlocks_(ioBlocks) {}

// Resting objects are destroyed one by one, so that each object's destructor runs; the heap
// itself goes with the arena.
ConnectionTable::~ConnectionTable() { recycler_.DestroyResting(); }

void ConnectionTable::Reset(const CServerProperties& properties) {
  ids_.Reset(properties.GetMaxConnections());
  recycler_.Prepare(properties.GetConnectionPoolSize(), properties.GetReuseDelay());
}

bool ConnectionTable::Reserve(uint32_t& id) {
  return ids_.Reserve(CIdSlotTable<TcpConnection>::Marker(), id);
}

TcpConnection* ConnectionTable::Obtain(uint32_t id, platform::SocketHandle socket) {
  TcpConnection* connection = recycler_.TakeRested();
  if (connection == nullptr) connection = TcpConnection::Create(arena_, ioBlocks_);
  connection->Reset(id, socket);
  return connection;
}

void ConnectionTable::Prepare(TcpConnection& connection, const platform::SockAddr& remoteAddress) {
  const uint32_t now = platform::TickCount();
  connection.time.store(now, std::memory_order_release);
  connection.lastReceive.store(now, std::memory_order_release);
  connection.remoteAddress = remoteAddress;
  connection.connected.store(true, std::memory_order_release);
  TcpConnection* previous = nullptr;
  if (!ids_.Set(connection.connectionId.load(std::memory_order_acquire), &connection, &previous) ||
      previous != CIdSlotTable<TcpConnection>::Marker()) {
    throw FatalError("a connection slot no longer holds its reservation");
  }
}

TcpConnection* ConnectionTable::FindValid(uint32_t id) const {
  TcpConnection* connection = ids_.Get(id);
  return connection != nullptr && connection->valid.load(std::memory_order_acquire) ? connection : nullptr;
}

void ConnectionTable::Release(TcpConnection& connection) {
  ids_.Set(connection.connectionId.load(std::memory_order_acquire), nullptr);
  connection.time.store(platform::TickCount(), std::memory_order_release);
  connection.sendChain.Recycle();
  recycler_.Retire(&connection);
}

void ConnectionTable::ReleaseSlots() {
  if (ids_.Count() != 0) throw FatalError("connections remain in the table after the workers ended");
  ids_.Reset(0);
}

}  // namespace qolv::net

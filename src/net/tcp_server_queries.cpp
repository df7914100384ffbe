// Questions about connections, the application's pointer, and the disconnects by age and idle
// time. Most need a valid connection; the extra pointer and the remote address need only a live
// id, so they still answer inside OnClose.
#include <algorithm>
#include <mutex>

#include "net/socket_helpers.h"
#include "net/tcp_server.h"
#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

// Periods above this are refused: tick differences are only compared within half the range.
constexpr uint32_t kLargestPeriodMs = 0x3FFFFFFF;

}  // namespace

bool CTcpServer::SetConnectionExtra(uint32_t connectionId, void* extra) {
  TcpConnection* connection = connections_.Find(connectionId);
  if (connection == nullptr) return false;
  connection->extra.store(extra, std::memory_order_release);
  return true;
}

bool CTcpServer::GetConnectionExtra(uint32_t connectionId, void*& extra) const {
  const TcpConnection* connection = connections_.Find(connectionId);
  if (connection == nullptr) return false;
  extra = connection->extra.load(std::memory_order_acquire);
  return true;
}

bool CTcpServer::GetConnectionIds(uint32_t ids[], uint32_t& count) const {
  if (ids == nullptr || count == 0) {
    count = CountConnections();
    return false;
  }
  const std::vector<uint32_t> snapshot = connections_.Snapshot();
  const auto size = static_cast<uint32_t>(snapshot.size());
  const bool fits = size != 0 && size <= count;
  if (fits) std::copy(snapshot.begin(), snapshot.end(), ids);
  count = size;
  return fits;
}

bool CTcpServer::GetConnectionAge(uint32_t connectionId, uint32_t& ageMs) const {
  const TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) return false;
  ageMs = platform::TickCount() - connection->time.load(std::memory_order_acquire);
  return true;
}

bool CTcpServer::GetIdleTime(uint32_t connectionId, uint32_t& idleMs) const {
  if (!properties_.GetTrackSilence()) return false;
  const TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) return false;
  idleMs = platform::TickCount() - connection->lastReceive.load(std::memory_order_acquire);
  return true;
}

bool CTcpServer::GetConnectionLocalAddress(uint32_t connectionId, char address[], int& length,
                                           uint16_t& port) const {
  TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) return false;
  // The close invalidates under both locks before it closes the socket, so under either one a
  // valid connection's socket stays open. The send lock is the inner one: OnSent may hold it
  // already, and taking the receive lock there would invert the order against a receive event
  // that sends.
  std::lock_guard<CRecursiveLock> sending(connection->sendLock);
  if (!connection->valid.load(std::memory_order_acquire)) return false;
  return SocketLocalAddress(connection->socket.load(std::memory_order_acquire), address, length, port);
}

bool CTcpServer::GetRemoteAddress(uint32_t connectionId, char address[], int& length, uint16_t& port) const {
  const TcpConnection* connection = connections_.Find(connectionId);
  if (connection == nullptr) return false;
  uint16_t family = 0;
  return SockAddrToText(connection->remoteAddress, family, address, length, port);
}

bool CTcpServer::GetListenAddress(char address[], int& length, uint16_t& port) const {
  return SocketLocalAddress(listenSocket_.load(std::memory_order_acquire), address, length, port);
}

bool CTcpServer::GetPendingSendLength(uint32_t connectionId, int32_t& length) const {
  const TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) return false;
  length = connection->pendingBytes.load(std::memory_order_acquire);
  return true;
}

bool CTcpServer::IsReceivePaused(uint32_t connectionId, bool& paused) const {
  const TcpConnection* connection = connections_.FindValid(connectionId);
  if (connection == nullptr) return false;
  paused = connection->paused.load(std::memory_order_acquire);
  return true;
}

bool CTcpServer::IsConnectionOpen(uint32_t connectionId) const {
  const TcpConnection* connection = connections_.Find(connectionId);
  return connection != nullptr && connection->connected.load(std::memory_order_acquire);
}

bool CTcpServer::DisconnectByAge(uint32_t periodMs, bool force) {
  if (periodMs > kLargestPeriodMs) return false;
  DisconnectQuietFor(periodMs, &TcpConnection::time, force);
  return true;
}

bool CTcpServer::DisconnectIdle(uint32_t periodMs, bool force) {
  if (!properties_.GetTrackSilence() || periodMs > kLargestPeriodMs) return false;
  DisconnectQuietFor(periodMs, &TcpConnection::lastReceive, force);
  return true;
}

void CTcpServer::DisconnectQuietFor(uint32_t periodMs, std::atomic<uint32_t> TcpConnection::*since,
                                    bool force) {
  const uint32_t now = platform::TickCount();
  for (uint32_t id : connections_.Snapshot()) {
    const TcpConnection* connection = connections_.FindValid(id);
    if (connection != nullptr && now - (connection->*since).load(std::memory_order_acquire) >= periodMs) {
      Disconnect(id, force);
    }
  }
}

}  // namespace qolv::net

#pragma once
// The pull-model server: received bytes wait in a buffer per connection, and the listener is
// told only how many are waiting; it takes exactly the bytes it wants with Fetch, or looks at
// them with Peek, from inside OnReceive or OnClose of that connection.
#include <cstdint>
#include <mutex>

#include "net/pull_buffer_store.h"
#include "net/server_holder.h"
#include "net/tcp_server.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::net {

template <typename Server>
class CTcpPullServerT : public DualInterface<IPullSocket, ITcpServer>, public Server {
 public:
  explicit CTcpPullServerT(ITcpServerListener* listener) : Server(listener) {}

  // Stops while the pull behaviour still exists, so the shutdown event and the clearing of the
  // buffers run as they do in a plain Stop.
  ~CTcpPullServerT() override {
    if (Server::GetServerState() != ServerState::Stopped) Server::Stop();
  }

  PullResult Fetch(uint32_t connectionId, uint8_t* destination, int32_t length) override {
    CPullBuffer* buffer = BufferOf(connectionId);
    if (buffer == nullptr) return PullResult::NoBuffer;
    if (buffer->length < length) return PullResult::Insufficient;
    buffer->Extract(destination, length);
    return PullResult::Ok;
  }

  PullResult Peek(uint32_t connectionId, uint8_t* destination, int32_t length) override {
    const CPullBuffer* buffer = BufferOf(connectionId);
    if (buffer == nullptr) return PullResult::NoBuffer;
    if (buffer->length < length) return PullResult::Insufficient;
    buffer->CopyOut(destination, length);
    return PullResult::Ok;
  }

 protected:
  void PrepareResources() override {
    Server::PrepareResources();
    store_.Prepare(this->Properties());
  }

  EventResult NotifyReady(TcpConnection* connection) override {
    const EventResult result = Server::NotifyReady(connection);
    if (result != EventResult::Error) {
      connection->reserved = store_.ObtainBuffer(connection->connectionId.load(std::memory_order_acquire));
    }
    return result;
  }

  // The bytes are appended before the listener hears of them, so the announced length can be
  // fetched in full from inside the event.
  EventResult NotifyReceive(TcpConnection* connection, const uint8_t* data, int32_t length) override {
    auto* buffer = static_cast<CPullBuffer*>(connection->reserved);
    buffer->Append(data, length);
    return Server::NotifyReceiveLength(connection, buffer->length);
  }

  // The listener may still fetch the unread bytes during OnClose; they are dropped after it.
  EventResult NotifyClose(TcpConnection* connection, SocketOp operation, uint32_t errorCode) override {
    const EventResult result = Server::NotifyClose(connection, operation, errorCode);
    if (auto* buffer = static_cast<CPullBuffer*>(connection->reserved)) store_.RecycleBuffer(buffer);
    return result;
  }

  // A listener that paused the connection may have left whole frames in the buffer. Nothing new
  // need ever arrive to announce them, so they are announced again before reading goes on.
  EventResult BeforeResumeReceive(TcpConnection* connection) override {
    const EventResult result = Server::BeforeResumeReceive(connection);
    if (result == EventResult::Error) return result;
    std::lock_guard<CRecursiveLock> receiving(connection->receiveLock);
    auto* buffer = static_cast<CPullBuffer*>(connection->reserved);
    if (!connection->valid.load(std::memory_order_acquire) || buffer == nullptr || buffer->length <= 0) {
      return result;
    }
    platform::SetSystemError(err::kSuccess);
    return Server::RaiseReceiveLength(connection, buffer->length);
  }

  EventResult NotifyShutdown() override {
    const EventResult result = Server::NotifyShutdown();
    store_.Clear();
    return result;
  }

 private:
  // Inside the receive event of the connection its buffer is at hand; elsewhere the store's cache
  // finds it by id.
  CPullBuffer* BufferOf(uint32_t connectionId) const {
    if (const TcpConnection* connection = Server::ReceivingConnection(connectionId)) {
      return static_cast<CPullBuffer*>(connection->reserved);
    }
    return store_.FindBuffer(connectionId);
  }

  CPullBufferStore store_;
};

}  // namespace qolv::net

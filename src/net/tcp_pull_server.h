#pragma once
// The pull-model server: received bytes wait in a buffer per connection, and the listener is
// told only how many are waiting; it takes exactly the bytes it wants with Fetch, or looks at
// them with Peek, from inside OnReceive or OnClose of that connection.
#include <cstdint>

#include "net/pull_buffer_store.h"
#include "net/server_holder.h"
#include "net/tcp_server.h"

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
    CPullBuffer* buffer = store_.FindBuffer(connectionId);
    if (buffer == nullptr) return PullResult::NoBuffer;
    if (buffer->length < length) return PullResult::Insufficient;
    buffer->Extract(destination, length);
    return PullResult::Ok;
  }

  PullResult Peek(uint32_t connectionId, uint8_t* destination, int32_t length) override {
    const CPullBuffer* buffer = store_.FindBuffer(connectionId);
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

  EventResult NotifyShutdown() override {
    const EventResult result = Server::NotifyShutdown();
    store_.Clear();
    return result;
  }

 private:
  CPullBufferStore store_;
};

}  // namespace qolv::net

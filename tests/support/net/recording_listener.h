#pragma once
// A listener that records every event of a server in order, keeps the bytes each connection
// delivered, and lets a test decide results and act from inside events through hooks. Hooks
// run on the engine's thread before the event is recorded, so a test that waited for an event
// sees what its hook did; they run without the record's lock.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "net/tcp_server_listener.h"

namespace qolv::net::testing {

enum class EventKind { PrepareListen, Accept, Ready, Receive, Sent, Close, Shutdown };

struct Event {
  EventKind kind;
  uint32_t id = 0;
  int32_t length = 0;  // Receive: bytes delivered (push) or waiting (pull); Sent: bytes sent
  SocketOp operation = SocketOp::None;
  uint32_t error = 0;
};

class RecordingListener : public CTcpPullServerListener {
 public:
  std::function<EventResult(ITcpServer*, platform::SocketHandle)> onPrepareListen;
  std::function<EventResult(ITcpServer*, uint32_t)> onAccept;
  std::function<EventResult(ITcpServer*, uint32_t)> onReady;
  // Both receive forms; a pull listener without this hook fetches everything announced.
  std::function<EventResult(ITcpServer*, uint32_t, int32_t)> onReceive;
  std::function<void(ITcpServer*, uint32_t, const uint8_t*, int32_t)> onSent;
  std::function<void(ITcpServer*, uint32_t, SocketOp, uint32_t)> onClose;
  std::function<void(ITcpServer*)> onShutdown;

  EventResult OnPrepareListen(ITcpServer* sender, platform::SocketHandle listenSocket) override;
  EventResult OnAccept(ITcpServer* sender, uint32_t id, platform::SocketHandle socket) override;
  EventResult OnReady(ITcpServer* sender, uint32_t id) override;
  EventResult OnReceive(ITcpServer* sender, uint32_t id, int32_t length) override;
  EventResult OnReceive(ITcpServer* sender, uint32_t id, const uint8_t* data, int32_t length) override;
  EventResult OnSent(ITcpServer* sender, uint32_t id, const uint8_t* data, int32_t length) override;
  EventResult OnClose(ITcpServer* sender, uint32_t id, SocketOp operation, uint32_t error) override;
  EventResult OnShutdown(ITcpServer* sender) override;

  // Adds bytes to what the connection delivered; for hooks that fetch by themselves.
  void AddReceived(uint32_t id, const uint8_t* data, int32_t length);

  std::vector<Event> Events() const;
  std::vector<Event> EventsOf(uint32_t id) const;
  std::string Received(uint32_t id) const;
  int Count(EventKind kind) const;
  // The id of the n-th accepted connection (from 0), or 0 if there is none.
  uint32_t AcceptedId(int n) const;

  // Waits until condition(events) holds; false when kPatience passed first.
  bool WaitUntil(const std::function<bool(const std::vector<Event>&)>& condition) const;
  bool WaitForCount(EventKind kind, int count) const;
  bool WaitForClose(uint32_t id) const;
  // Waits until the connection delivered at least count bytes.
  bool WaitForReceived(uint32_t id, size_t count) const;
  // The id of the n-th accepted connection once it is ready, or 0 after kPatience.
  uint32_t WaitForReady(int n) const;

 private:
  void Record(const Event& event, const uint8_t* data = nullptr, int32_t length = 0);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
  std::map<uint32_t, std::string> received_;
};

}  // namespace qolv::net::testing

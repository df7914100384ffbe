#include "recording_listener.h"

#include <chrono>
#include <vector>

#include "net/pull_socket.h"
#include "net/server_holder.h"
#include "test_client.h"

namespace qolv::net::testing {
namespace {

int CountOf(const std::vector<Event>& events, EventKind kind) {
  int count = 0;
  for (const Event& event : events) count += event.kind == kind ? 1 : 0;
  return count;
}

}  // namespace

void RecordingListener::Record(const Event& event, const uint8_t* data, int32_t length) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    if (data != nullptr && length > 0)
      received_[event.id].append(reinterpret_cast<const char*>(data), length);
  }
  changed_.notify_all();
}

void RecordingListener::AddReceived(uint32_t id, const uint8_t* data, int32_t length) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received_[id].append(reinterpret_cast<const char*>(data), length);
  }
  changed_.notify_all();
}

EventResult RecordingListener::OnPrepareListen(ITcpServer* sender, platform::SocketHandle listenSocket) {
  const EventResult result = onPrepareListen ? onPrepareListen(sender, listenSocket) : EventResult::Ok;
  Record({EventKind::PrepareListen});
  return result;
}

EventResult RecordingListener::OnAccept(ITcpServer* sender, uint32_t id, platform::SocketHandle) {
  const EventResult result = onAccept ? onAccept(sender, id) : EventResult::Ok;
  Record({EventKind::Accept, id});
  return result;
}

EventResult RecordingListener::OnReady(ITcpServer* sender, uint32_t id) {
  const EventResult result = onReady ? onReady(sender, id) : EventResult::Ok;
  Record({EventKind::Ready, id});
  return result;
}

EventResult RecordingListener::OnReceive(ITcpServer* sender, uint32_t id, int32_t length) {
  if (onReceive) {
    const EventResult result = onReceive(sender, id, length);
    Record({EventKind::Receive, id, length});
    return result;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  const PullResult fetched = PullSocketOf(sender)->Fetch(id, bytes.data(), length);
  Record({EventKind::Receive, id, length}, bytes.data(), fetched == PullResult::Ok ? length : 0);
  return fetched == PullResult::Ok ? EventResult::Ok : EventResult::Error;
}

EventResult RecordingListener::OnReceive(ITcpServer* sender, uint32_t id, const uint8_t* data,
                                         int32_t length) {
  const EventResult result = onReceive ? onReceive(sender, id, length) : EventResult::Ok;
  Record({EventKind::Receive, id, length}, data, length);
  return result;
}

EventResult RecordingListener::OnSent(ITcpServer* sender, uint32_t id, const uint8_t* data, int32_t length) {
  if (onSent) onSent(sender, id, data, length);
  Record({EventKind::Sent, id, length});
  return EventResult::Ok;
}

EventResult RecordingListener::OnClose(ITcpServer* sender, uint32_t id, SocketOp operation, uint32_t error) {
  if (onClose) onClose(sender, id, operation, error);
  Record({EventKind::Close, id, 0, operation, error});
  return EventResult::Ok;
}

EventResult RecordingListener::OnShutdown(ITcpServer* sender) {
  if (onShutdown) onShutdown(sender);
  Record({EventKind::Shutdown});
  return EventResult::Ok;
}

std::vector<Event> RecordingListener::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<Event> RecordingListener::EventsOf(uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Event> mine;
  for (const Event& event : events_) {
    if (event.id == id && event.kind != EventKind::PrepareListen && event.kind != EventKind::Shutdown)
      mine.push_back(event);
  }
  return mine;
}

std::string RecordingListener::Received(uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = received_.find(id);
  return found == received_.end() ? std::string() : found->second;
}

int RecordingListener::Count(EventKind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CountOf(events_, kind);
}

uint32_t RecordingListener::AcceptedId(int n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int seen = 0;
  for (const Event& event : events_) {
    if (event.kind == EventKind::Accept && seen++ == n) return event.id;
  }
  return 0;
}

bool RecordingListener::WaitUntil(const std::function<bool(const std::vector<Event>&)>& condition) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(kPatience), [&] { return condition(events_); });
}

bool RecordingListener::WaitForCount(EventKind kind, int count) const {
  return WaitUntil([&](const std::vector<Event>& events) { return CountOf(events, kind) >= count; });
}

bool RecordingListener::WaitForClose(uint32_t id) const {
  return WaitUntil([&](const std::vector<Event>& events) {
    for (const Event& event : events) {
      if (event.kind == EventKind::Close && event.id == id) return true;
    }
    return false;
  });
}

bool RecordingListener::WaitForReceived(uint32_t id, size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(kPatience), [&] {
    const auto found = received_.find(id);
    return found != received_.end() && found->second.size() >= count;
  });
}

uint32_t RecordingListener::WaitForReady(int n) const {
  uint32_t id = 0;
  WaitUntil([&](const std::vector<Event>& events) {
    int seen = 0;
    for (const Event& event : events) {
      if (event.kind == EventKind::Ready && seen++ == n) {
        id = event.id;
        return true;
      }
    }
    return false;
  });
  return id;
}

}  // namespace qolv::net::testing

#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/slim_lock.h"

namespace qolv {

class ConnectionFlow;

// What the service holds for its clients, in total and by connection: bytes received and not
// yet cut into frames, frames queued or running as tasks, and answer bytes not yet sent.
//
// Two rules keep the total bounded whatever clients do. Above the pressure mark a connection
// with any outstanding work is not read until all of it has drained, so each client gets one
// frame at a time and none waits on another. Above the budget the connection holding the
// largest unfinished frame is closed, since such bytes only grow until the frame is whole.
class ClientLedger {
 public:
  static constexpr int64_t kBudget = 128 * 1024 * 1024;
  static constexpr int64_t kPressureMark = 16 * 1024 * 1024;

  ClientLedger() = default;
  // Closes the flows still registered, so no late ticket reaches a ledger that is gone.
  ~ClientLedger();
  ClientLedger(const ClientLedger&) = delete;
  ClientLedger& operator=(const ClientLedger&) = delete;

  void Register(const std::shared_ptr<ConnectionFlow>& flow);
  void Unregister(uint32_t connectionId);
  // The flow of a connection, or null when it is not (or no longer) registered.
  std::shared_ptr<ConnectionFlow> Find(uint32_t connectionId) const;

  void AddReceived(int64_t bytes) { received_.fetch_add(bytes, std::memory_order_relaxed); }
  void AddTasks(int64_t bytes) { tasks_.fetch_add(bytes, std::memory_order_relaxed); }
  void AddUnsent(int64_t bytes) { unsent_.fetch_add(bytes, std::memory_order_relaxed); }

  int64_t Received() const { return received_.load(std::memory_order_relaxed); }
  int64_t Tasks() const { return tasks_.load(std::memory_order_relaxed); }
  int64_t Unsent() const { return unsent_.load(std::memory_order_relaxed); }
  int64_t Held() const { return Received() + Tasks() + Unsent(); }
  bool OverBudget() const { return Held() > kBudget; }
  bool UnderPressure() const { return Tasks() + Unsent() >= kPressureMark; }

  // The registered flow with the largest unfinished frame, or null when no flow has one.
  std::shared_ptr<ConnectionFlow> LargestIncomplete() const;

 private:
  std::atomic<int64_t> received_{0};
  std::atomic<int64_t> tasks_{0};
  std::atomic<int64_t> unsent_{0};
  mutable platform::SlimLock lock_;
  std::unordered_map<uint32_t, std::shared_ptr<ConnectionFlow>> flows_;
};

}  // namespace qolv

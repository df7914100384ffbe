#pragma once
// Our own completion port: epoll tells which sockets became ready, the waiting threads perform
// the ready operations, and the finished ones are handed out, one or a batch per Wait.
//
// Threads waiting on the port take turns as leader and followers: one thread at a time (the
// leader) sits in epoll_wait and performs the ready I/O itself; the others sleep on a condition
// variable and are woken only when a completion waits for them or nobody leads any more. A
// packet queued while the leader sits in epoll_wait and no follower is free wakes the leader
// through an eventfd. While the traffic comes in short gaps and from one or two sockets at a time,
// the leader polls for a moment before it sleeps, which saves the costly wake-up of a sleeping
// thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/completion_port.h"
#include "platform/posix/completion/completion_ring.h"
#include "platform/posix/completion/op_list.h"

struct epoll_event;

namespace qolv::platform::posix {

class EpollPort {
 public:
  // A new port with one reference (the owner's); null with the system error set on failure.
  static EpollPort* Create();

  // Every associated socket holds a reference, so the epoll descriptor outlives its sockets.
  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  // Watches the socket's descriptor; the handle comes back with each readiness event.
  uint32_t Watch(int fd, SocketHandle handle);
  void Unwatch(int fd);

  // Queues finished operations (their error, bytes and key already set).
  void Complete(OpList& done);
  bool Post(uint32_t bytes, uintptr_t key);
  // Takes up to capacity queued completions (at least one) into completions; count says how many.
  bool Wait(Completion* completions, uint32_t capacity, uint32_t& count, uint32_t timeoutMs);

 private:
  EpollPort(int epollFd, int wakeFd) : epollFd_(epollFd), wakeFd_(wakeFd) {}
  ~EpollPort();

  // Leader step: waits for readiness and runs the ready operations into done, outside the lock.
  // Returns false when epoll failed (system error set).
  bool PollOnce(int timeoutMs, OpList& done, bool& drainedWake);
  // epoll_wait for the leader, polling first while the gaps are short; its result.
  int WaitForReadiness(epoll_event* events, int timeoutMs);
  void PushLocked(OpList& done);
  // Makes sure a queued completion or a vacant leader seat does not go unnoticed.
  void WakeOneLocked(bool allowEventfd);
  uint32_t TakeLocked(Completion* completions, uint32_t capacity);

  const int epollFd_;
  const int wakeFd_;
  std::atomic<int> refs_{1};

  std::mutex mutex_;
  std::condition_variable wakeup_;
  CompletionRing queue_;
  bool leading_ = false;      // a thread polls or runs ready I/O
  bool inEpollWait_ = false;  // the leader may be blocked in epoll_wait
  bool wakeWritten_ = false;  // the eventfd holds an unread wake-up
  uint32_t sleeping_ = 0;     // followers waiting on wakeup_
  uint32_t wakeTokens_ = 0;   // wake-ups granted to followers, not yet taken
  bool shortGaps_ = false;    // the leader's: its last wait ended soon with one or two sockets
};

}  // namespace qolv::platform::posix

#pragma once
// An I/O completion port in the shape of the Windows one. On Windows it is the real port;
// on Linux it is our own over epoll. The contract the engine relies on, on both:
//  - every operation that a Start* function reports as started completes exactly once through
//    the port, also when it finished at once;
//  - a receive that completes with 0 bytes means the peer closed the connection;
//  - closing a socket completes its outstanding operations with 995;
//  - a reset peer is reported as 10054 (by OverlappedResult on Windows);
//  - posted packets carry no overlapped record;
//  - any number of threads may wait on one port; each completion goes to exactly one of them.
#include <cstdint>

#include "platform/overlapped.h"
#include "platform/socket_types.h"

namespace qolv::platform {

struct Completion {
  bool ok = false;                    // the operation succeeded (always true for posted packets)
  uint32_t bytes = 0;                 // bytes transferred, or the posted byte count
  uintptr_t key = 0;                  // the key of the socket's association, or the posted key
  Overlapped* overlapped = nullptr;   // the operation's record; null for posted packets
  uint32_t error = 0;                 // when !ok: the error of the completion (Windows numbering)
};

class CompletionPort {
 public:
  CompletionPort() = default;
  ~CompletionPort();
  CompletionPort(const CompletionPort&) = delete;
  CompletionPort& operator=(const CompletionPort&) = delete;

  // Creates the port; false with the system error set on failure.
  bool Open();
  // Closes the port. No thread may be waiting on it or use it afterwards.
  void Close();
  bool IsOpen() const { return impl_ != nullptr; }

  // Delivers the completions of every operation later started on the socket to this port,
  // with the given key. False with the system error set on failure.
  bool Associate(SocketHandle socket, uintptr_t key);

  // Queues a packet with no overlapped record. False with the system error set on failure.
  bool Post(uint32_t bytes, uintptr_t key);

  // Takes the next completion, waiting at most timeoutMs (kInfinite: no limit). True when a
  // completion was taken (see Completion::ok for its outcome); false when the time ran out
  // (system error 258) or the port failed.
  bool Wait(Completion& completion, uint32_t timeoutMs);

  // As Wait, but takes up to capacity (at most kMostPerWait) completions that are queued
  // together, oldest first, for the price of one; count receives how many. Completions taken
  // together are this thread's alone, so a caller keeps batches small where threads share work.
  static constexpr uint32_t kMostPerWait = 64;
  bool WaitMany(Completion* completions, uint32_t capacity, uint32_t& count, uint32_t timeoutMs);

  // Platform state; only the platform layer looks inside.
  void* impl() const { return impl_; }

 private:
  void* impl_ = nullptr;
};

}  // namespace qolv::platform

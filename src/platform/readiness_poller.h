#pragma once
// Tells a single thread which of its many non-blocking sockets can be read or written now, for
// clients such as the load generator that drive every socket themselves. It is level-triggered:
// a socket is reported at every wait for as long as it stays ready. The poller and its sockets
// belong to one thread; a socket watched here is never associated with a completion port.
// Results that are a uint32_t are 0 on success and otherwise the error in Windows numbering
// (also left as the system error).
#include <cstdint>
#include <memory>

#include "platform/socket_types.h"

namespace qolv::platform {

// What a socket is watched for; a watch asks for one of them or both.
inline constexpr uint32_t kWatchReadable = 1;
inline constexpr uint32_t kWatchWritable = 2;

struct ReadinessEvent {
  uint32_t key = 0;       // the key the socket is watched with
  bool readable = false;  // data or the peer's close is waiting
  bool writable = false;  // there is room to send, or a connect under way has finished
  bool failed = false;    // an error or a hang-up; reading (or ConnectOutcome) tells which
};

class ReadinessPoller {
 public:
  ReadinessPoller();
  ~ReadinessPoller();
  ReadinessPoller(const ReadinessPoller&) = delete;
  ReadinessPoller& operator=(const ReadinessPoller&) = delete;

  // Creates the poller; false with the system error set on failure.
  bool Open();
  // Drops every watch and the poller's own resources; the sockets stay open.
  void Close();
  bool IsOpen() const;

  // Starts watching a socket under key for interest (kWatchReadable, kWatchWritable or both).
  // 183 when the socket is watched already; 10038 when the handle names no open socket.
  uint32_t Watch(SocketHandle socket, uint32_t key, uint32_t interest);
  // Watches a watched socket under key for interest from now on; 4312 when it is not watched.
  uint32_t Change(SocketHandle socket, uint32_t key, uint32_t interest);
  // Stops watching a socket; 4312 when it is not watched. Forget a socket before closing it:
  // on Windows a closed socket's value may soon name another one.
  uint32_t Forget(SocketHandle socket);

  // Waits at most timeoutMs (kInfinite: no limit) until a watched socket is ready, then writes
  // up to capacity events and their number to *count. *count is 0 when the time ran out or a
  // signal cut the wait short. Sockets left over when more are ready than capacity come first
  // in later waits, so none is starved.
  uint32_t Wait(uint32_t timeoutMs, ReadinessEvent* events, uint32_t capacity, uint32_t* count);

 private:
  struct State;  // the platform's own
  std::unique_ptr<State> state_;
};

}  // namespace qolv::platform

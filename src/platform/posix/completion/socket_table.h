#pragma once
// Per-descriptor state of every socket this layer created. A handle carries the descriptor and
// the generation of its table entry; the generation changes at every close, so a handle kept
// after its socket was closed can never reach a later socket that the kernel gave the same
// descriptor number.
#include <cstdint>
#include <mutex>

#include "platform/posix/completion/op_list.h"
#include "platform/socket_types.h"

namespace qolv::platform::posix {

class EpollPort;

struct SocketEntry {
  std::mutex mutex;         // guards every field and every use of the descriptor
  uint32_t generation = 0;  // bumped at close, before the descriptor is released
  bool open = false;
  EpollPort* port = nullptr;  // the associated port (holds a reference), or null
  uintptr_t key = 0;          // completion key of the association
  OpList reads;               // pending accepts or receives, oldest first
  OpList writes;              // pending sends, oldest first
  // False once a read found the socket empty (it would block, or gave fewer bytes than asked),
  // true again with the next read-side readiness event. Bytes that arrive after such a read raise
  // that event, and both happen under the mutex, so a receive started while it is false waits for
  // the event instead of asking the socket in vain.
  bool mayRead = true;
  // Set for good once the peer's end or an error was reported (or the receive side shut down):
  // a read that stops short of the end then does not mean empty, since the end itself is only
  // read by the next recv, and no further event would announce it.
  bool readEnded = false;
};

static_assert(sizeof(SocketHandle) == 8, "a handle holds a descriptor and a generation");

inline int HandleDescriptor(SocketHandle handle) { return static_cast<int>(handle & 0xFFFFFFFFu); }
inline uint32_t HandleGeneration(SocketHandle handle) { return static_cast<uint32_t>(handle >> 32); }
inline SocketHandle MakeHandle(int fd, uint32_t generation) {
  return (static_cast<SocketHandle>(generation) << 32) | static_cast<uint32_t>(fd);
}

class SocketTable {
 public:
  // The entry of a descriptor, or null when the descriptor is beyond the table or never had one.
  static SocketEntry* Find(int fd);
  // Marks a descriptor just obtained from the kernel as an open socket and returns its handle;
  // kInvalidSocket (system error 10024) when the descriptor is beyond the table.
  static SocketHandle Register(int fd);
};

// Holds a socket's entry locked while the handle still names the open socket; otherwise it is
// false and nothing is locked.
class LockedSocket {
 public:
  explicit LockedSocket(SocketHandle handle);
  explicit operator bool() const { return entry_ != nullptr; }
  SocketEntry& entry() const { return *entry_; }
  int fd() const { return fd_; }

 private:
  std::unique_lock<std::mutex> lock_;
  SocketEntry* entry_ = nullptr;
  int fd_ = -1;
};

}  // namespace qolv::platform::posix

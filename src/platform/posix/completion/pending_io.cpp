#include "platform/posix/completion/pending_io.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/errno_map.h"
#include "platform/socket_io.h"

namespace qolv::platform::posix {
namespace {

void StoreAddress(char* slot, uint16_t family, const sockaddr_storage& address) {
  const uint32_t size = AddressLength(family);
  std::memset(slot, 0, AcceptAddressSlotSize(family));
  std::memcpy(slot, &address, size);
}

bool TryAccept(int fd, Overlapped* op) {
  for (;;) {
    sockaddr_storage remote{};
    socklen_t remoteLength = sizeof remote;
    const int accepted =
        ::accept4(fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (accepted >= 0) {
      const SocketHandle handle = SocketTable::Register(accepted);
      if (handle == kInvalidSocket) {
        // No room for its state: the client sees a close, and the accept waits for the next one.
        ::close(accepted);
        continue;
      }
      sockaddr_storage local{};
      socklen_t localLength = sizeof local;
      ::getsockname(accepted, reinterpret_cast<sockaddr*>(&local), &localLength);
      StoreAddress(op->buffer, op->family, local);
      StoreAddress(op->buffer + AcceptAddressSlotSize(op->family), op->family, remote);
      *op->acceptSlot = handle;
      op->error = 0;
      return true;
    }
    switch (errno) {
      // A connection that was reset while queued, or a signal: the next one may be fine.
      case EINTR:
      case ECONNABORTED:
      case EPROTO:
        continue;
      // Nothing queued, or no descriptors or memory for now: the accept stays pending and is
      // retried when the next connection arrives.
      case EAGAIN:
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
        return false;
      default:
        op->error = FromErrno(errno);
        return true;
    }
  }
}

bool TryReceive(SocketEntry& entry, int fd, Overlapped* op) {
  if (!entry.mayRead) return false;
  for (;;) {
    const ssize_t received = ::recv(fd, op->buffer, op->length, MSG_DONTWAIT);
    NoteRead(entry, op->length, received, errno);
    if (received >= 0) {
      op->bytes = static_cast<uint32_t>(received);
      op->error = 0;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return false;
    op->error = FromErrno(errno);
    return true;
  }
}

// A stream send finishes only when every byte is gone, as on Windows; a partial one keeps its
// progress in op->bytes and waits for room.
bool TrySend(int fd, Overlapped* op) {
  while (op->bytes < op->length) {
    const ssize_t sent =
        ::send(fd, op->buffer + op->bytes, op->length - op->bytes, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      op->bytes += static_cast<uint32_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return false;
    op->error = FromErrno(errno);
    return true;
  }
  op->error = 0;
  return true;
}

}  // namespace

uint32_t AcceptAddressSlotSize(uint16_t family) { return AddressLength(family) + 16; }

void NoteRead(SocketEntry& entry, uint32_t length, ssize_t result, int error) {
  // A failure other than would-block, or the 0 of a closed peer, is met again by the next read.
  if (result > 0) {
    entry.mayRead = static_cast<size_t>(result) == length || entry.readEnded;
  } else if (result < 0 && error == EAGAIN) {
    entry.mayRead = false;
  }
}

bool TryOperation(SocketEntry& entry, int fd, Overlapped* op) {
  switch (op->operation) {
    case kOpAccept:
      return TryAccept(fd, op);
    case kOpReceive:
      return TryReceive(entry, fd, op);
    default:
      return TrySend(fd, op);
  }
}

void RunPending(SocketEntry& entry, int fd, OpList& pending, OpList& done) {
  while (!pending.Empty() && TryOperation(entry, fd, pending.Front())) {
    Overlapped* op = pending.Pop();
    op->key = entry.key;
    done.Push(op);
  }
}

void FinishAllPending(SocketEntry& entry, uint32_t error, OpList& done) {
  for (OpList* list : {&entry.reads, &entry.writes}) {
    while (Overlapped* op = list->Pop()) {
      op->error = error;
      op->key = entry.key;
      done.Push(op);
    }
  }
}

}  // namespace qolv::platform::posix

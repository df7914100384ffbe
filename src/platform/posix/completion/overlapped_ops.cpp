// The operations that complete through a port: accept, receive and send, plus the immediate
// receive and the read-back of an outcome.
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix/completion/epoll_port.h"
#include "platform/posix/completion/pending_io.h"
#include "platform/posix/completion/socket_table.h"
#include "platform/posix/errno_map.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

using posix::LockedSocket;
using posix::ReportError;

void Prepare(Overlapped* op, uint16_t kind, char* buffer, uint32_t length) {
  op->next = nullptr;
  op->buffer = buffer;
  op->acceptSlot = nullptr;
  op->key = 0;
  op->length = length;
  op->bytes = 0;
  op->error = 0;
  op->operation = kind;
  op->family = 0;
}

// Tries the operation at once unless older ones of the same direction still wait (they keep
// their order). Finished: its completion is queued and the result is 0. Would block: it waits in
// the pending list and the result is pendingResult. Failed at once: the error, and no completion.
uint32_t Begin(LockedSocket& socket, posix::OpList& pending, Overlapped* op, uint32_t pendingResult) {
  posix::SocketEntry& entry = socket.entry();
  // Without a port nothing could ever deliver the completion.
  if (entry.port == nullptr) return ReportError(err::kWsaInvalidArgument);
  if (pending.Empty() && posix::TryOperation(entry, socket.fd(), op)) {
    if (op->error != err::kSuccess) return ReportError(op->error);
    op->key = entry.key;
    posix::OpList done;
    done.Push(op);
    entry.port->Complete(done);
    return ReportError(err::kSuccess);
  }
  pending.Push(op);
  return ReportError(pendingResult);
}

}  // namespace

uint32_t StartAccept(const AcceptFunctions&, SocketHandle listenSocket, uint16_t family,
                     Overlapped* overlapped, char* addressArea, SocketHandle* acceptSlot) {
  if (AddressLength(family) == 0) return ReportError(err::kWsaFamilyNotSupported);
  *acceptSlot = kInvalidSocket;
  LockedSocket socket(listenSocket);
  if (!socket) return ReportError(err::kWsaNotSocket);
  Prepare(overlapped, posix::kOpAccept, addressArea, AcceptAddressAreaSize(family));
  overlapped->acceptSlot = acceptSlot;
  overlapped->family = family;
  return Begin(socket, socket.entry().reads, overlapped, err::kSuccess);
}

uint32_t StartReceive(SocketHandle socket, char* buffer, uint32_t length, Overlapped* overlapped) {
  // recv would report 0 bytes at once, which reads as an orderly close.
  if (length == 0) return ReportError(err::kWsaInvalidArgument);
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  Prepare(overlapped, posix::kOpReceive, buffer, length);
  return Begin(locked, locked.entry().reads, overlapped, err::kSuccess);
}

uint32_t StartSend(SocketHandle socket, const char* buffer, uint32_t length, Overlapped* overlapped) {
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  // The buffer is only read; the record's field is shared with receives.
  Prepare(overlapped, posix::kOpSend, const_cast<char*>(buffer), length);
  return Begin(locked, locked.entry().writes, overlapped, err::kIoPending);
}

uint32_t ReceiveNow(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received) {
  *received = 0;
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  for (;;) {
    // Always asked, never answered from mayRead: bytes whose readiness event no thread has
    // handled yet are still to be found here.
    const ssize_t count = ::recv(locked.fd(), buffer, length, MSG_DONTWAIT);
    posix::NoteRead(locked.entry(), length, count, errno);
    if (count >= 0) {
      *received = static_cast<uint32_t>(count);
      return ReportError(err::kSuccess);
    }
    if (errno != EINTR) return posix::SetSystemErrorFromErrno();
  }
}

// The record already holds the outcome, so it stays readable after the socket was closed.
uint32_t OverlappedResult(SocketHandle, Overlapped* overlapped, uint32_t* bytes) {
  *bytes = overlapped->bytes;
  return ReportError(overlapped->error);
}

}  // namespace qolv::platform

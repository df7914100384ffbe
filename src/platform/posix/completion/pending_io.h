#pragma once
// The non-blocking attempts behind overlapped operations, shared by the Start functions (which
// try once at once) and the port's event loop (which retries when the socket becomes ready).
#include <sys/types.h>

#include <cstdint>

#include "platform/overlapped.h"
#include "platform/posix/completion/op_list.h"
#include "platform/posix/completion/socket_table.h"

namespace qolv::platform::posix {

enum OperationKind : uint16_t { kOpAccept = 1, kOpReceive = 2, kOpSend = 3 };

// Tries the operation without waiting. True when it finished, successfully or not (op->error and
// op->bytes hold the outcome); false when it must wait until the socket is ready again. A receive
// on a socket known to be empty waits without asking. Called with the entry locked.
bool TryOperation(SocketEntry& entry, int fd, Overlapped* op);

// Keeps SocketEntry::mayRead up to date after a recv asked for length bytes and returned result
// (with errno's value error when result is negative).
void NoteRead(SocketEntry& entry, uint32_t length, ssize_t result, int error);

// Runs the pending operations of one list in order until one has to wait; the finished ones
// move to done, stamped with the socket's completion key. Called with the entry locked.
void RunPending(SocketEntry& entry, int fd, OpList& pending, OpList& done);

// Finishes every pending operation of the socket with the error. Called with the entry locked.
void FinishAllPending(SocketEntry& entry, uint32_t error, OpList& done);

// Accept address area: the local address in the first half, the remote one in the second, each
// half being the family's address size + 16 bytes as on Windows.
uint32_t AcceptAddressSlotSize(uint16_t family);

}  // namespace qolv::platform::posix

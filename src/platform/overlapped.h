#pragma once
// The record an overlapped socket operation is started with. It is the first member of the
// engine's I/O block, so a completion's record pointer is the block's address.
#include <cstdint>

#include "platform/socket_types.h"

namespace qolv::platform {

#if defined(_WIN32)
// Same size and layout as the Windows OVERLAPPED record; the Windows layer casts it.
struct Overlapped {
  uintptr_t internal;
  uintptr_t internalHigh;
  uint32_t offset;
  uint32_t offsetHigh;
  void* event;
};
#else
// The Linux completion port keeps the state of a started operation here, so starting one
// allocates nothing. Only the platform layer reads these fields.
struct Overlapped {
  Overlapped* next;          // link in the socket's pending list or a batch of finished ones
  char* buffer;              // data of a receive or send; address area of an accept
  SocketHandle* acceptSlot;  // accept: where the accepted socket is stored
  uintptr_t key;             // completion key at the time the operation completed
  uint32_t length;           // bytes asked for
  uint32_t bytes;            // bytes transferred so far
  uint32_t error;            // outcome, in Windows numbering
  uint16_t operation;        // which kind of operation
  uint16_t family;           // accept: address family of the listen socket
};
#endif

}  // namespace qolv::platform

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
// allocates nothing.
struct Overlapped {
  Overlapped* next;         // link in the socket's pending list or the port's queue
  uint32_t operation;       // which kind of operation (completion port internal)
  uint32_t error;           // outcome, in Windows numbering
  uint32_t bytes;           // bytes transferred so far
  uint32_t length;          // bytes asked for
  char* buffer;             // data of a receive or send; address area of an accept
  SocketHandle* acceptSlot; // accept: where the accepted socket is stored
  uintptr_t key;            // completion key at the time the operation completed
};
#endif

}  // namespace qolv::platform

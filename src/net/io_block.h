#pragma once
// An I/O block: one allocation holding this header and, right behind it, capacity data bytes.
// One block carries each overlapped accept, receive and send, and blocks chained together queue
// outgoing bytes. The overlapped record comes first, so the record pointer of a completion is
// the address of its block.
#include <atomic>
#include <cstdint>

#include "net/engine_types.h"
#include "platform/overlapped.h"
#include "platform/socket_types.h"

namespace qolv::net {

template <typename Block>
class CBlockPoolT;

class CIoBlock {
 public:
  using Pool = CBlockPoolT<CIoBlock>;

  static CIoBlock* Create(Pool* pool, int32_t capacity);
  static void Free(CIoBlock* block);
  // The block whose record a completion reports.
  static CIoBlock* FromOverlapped(platform::Overlapped* record) {
    return reinterpret_cast<CIoBlock*>(record);
  }

  // A clean record, no bytes in use, and the buffer pointing at the data area again.
  void MakeEmpty();

  // Copies as many bytes as fit behind the ones in use and returns that count (<= 0: none).
  int32_t Append(const uint8_t* data, int32_t length);

  uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
  int32_t FreeSpace() const { return capacity - static_cast<int32_t>(bufferLength); }
  bool IsFull() const { return FreeSpace() <= 0; }

  platform::Overlapped overlapped;
  Pool* pool;
  SocketOp operation = SocketOp::None;
  // Bytes in use; when an operation completes, the bytes it transferred. With bufferPointer it
  // forms the buffer record handed to the system.
  uint32_t bufferLength = 0;
  uint8_t* bufferPointer;
  int32_t capacity;
  // A send block is referenced by the sending thread and by its completion; whichever drops the
  // last reference recycles it.
  std::atomic<int32_t> sendReferences{0};
  CIoBlock* next = nullptr;
  CIoBlock* prev = nullptr;
  platform::SocketHandle socket = platform::kInvalidSocket;

 private:
  CIoBlock(Pool* owner, int32_t size);
};

}  // namespace qolv::net

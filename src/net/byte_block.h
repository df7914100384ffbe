#pragma once
// A data block: one allocation holding this header and, right behind it, capacity data bytes.
// Bytes are written at tail and read at head: begin <= head <= tail <= begin + capacity.
#include <cstdint>

namespace qolv::net {

template <typename Block>
class CBlockPoolT;

class CByteBlock {
 public:
  using Pool = CBlockPoolT<CByteBlock>;

  // Allocates an empty block from the pool's heap.
  static CByteBlock* Create(Pool* pool, int32_t capacity);
  // Frees the block to its pool's heap.
  static void Free(CByteBlock* block);

  void MakeEmpty() { Reset(0, 0); }
  // Moves head and tail to these offsets (capped at the capacity); a negative offset leaves
  // its pointer where it is.
  void Reset(int32_t headOffset, int32_t tailOffset);

  // Each copies min(length, what fits or is held) bytes and returns that count (<= 0: none).
  int32_t Append(const uint8_t* data, int32_t length);
  int32_t Extract(uint8_t* destination, int32_t length);
  int32_t CopyOut(uint8_t* destination, int32_t length) const;

  int32_t Readable() const { return static_cast<int32_t>(tail - head); }
  int32_t FreeSpace() const { return static_cast<int32_t>(begin + capacity - tail); }
  bool IsFull() const { return FreeSpace() == 0; }

  Pool* pool;
  CByteBlock* next = nullptr;
  CByteBlock* prev = nullptr;
  int32_t capacity;
  uint8_t* begin;
  uint8_t* head;
  uint8_t* tail;

 private:
  CByteBlock(Pool* owner, int32_t size);
};

}  // namespace qolv::net

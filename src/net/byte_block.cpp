#include "net/byte_block.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "net/block_pool.h"

namespace qolv::net {

CByteBlock::CByteBlock(Pool* owner, int32_t size)
    : pool(owner), capacity(size), begin(reinterpret_cast<uint8_t*>(this + 1)), head(begin), tail(begin) {}

CByteBlock* CByteBlock::Create(Pool* pool, int32_t capacity) {
  void* memory = pool->Arena().Allocate(sizeof(CByteBlock) + static_cast<size_t>(capacity));
  return new (memory) CByteBlock(pool, capacity);
}

void CByteBlock::Free(CByteBlock* block) {
  Pool* pool = block->pool;
  block->~CByteBlock();
  pool->Arena().Free(block);
}

void CByteBlock::Reset(int32_t headOffset, int32_t tailOffset) {
  if (headOffset >= 0) head = begin + std::min(headOffset, capacity);
  if (tailOffset >= 0) tail = begin + std::min(tailOffset, capacity);
}

int32_t CByteBlock::Append(const uint8_t* data, int32_t length) {
  const int32_t n = std::min(FreeSpace(), length);
  if (n > 0) {
    std::memcpy(tail, data, static_cast<size_t>(n));
    tail += n;
  }
  return n;
}

int32_t CByteBlock::Extract(uint8_t* destination, int32_t length) {
  const int32_t n = CopyOut(destination, length);
  if (n > 0) head += n;
  return n;
}

int32_t CByteBlock::CopyOut(uint8_t* destination, int32_t length) const {
  const int32_t n = std::min(Readable(), length);
  if (n > 0) std::memcpy(destination, head, static_cast<size_t>(n));
  return n;
}

}  // namespace qolv::net

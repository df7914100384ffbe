#include "net/io_block.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "net/block_pool.h"

namespace qolv::net {

static_assert(std::is_standard_layout_v<CIoBlock> && offsetof(CIoBlock, overlapped) == 0,
              "a completion's record pointer must be the address of its block");

CIoBlock::CIoBlock(Pool* owner, int32_t size)
    : overlapped{}, pool(owner), bufferPointer(Data()), capacity(size) {}

CIoBlock* CIoBlock::Create(Pool* pool, int32_t capacity) {
  void* memory = pool->Arena().Allocate(sizeof(CIoBlock) + static_cast<size_t>(capacity));
  return new (memory) CIoBlock(pool, capacity);
}

void CIoBlock::Free(CIoBlock* block) {
  Pool* pool = block->pool;
  block->~CIoBlock();
  pool->Arena().Free(block);
}

void CIoBlock::MakeEmpty() {
  overlapped = platform::Overlapped{};
  bufferLength = 0;
  bufferPointer = Data();
}

int32_t CIoBlock::Append(const uint8_t* data, int32_t length) {
  const int32_t n = std::min(FreeSpace(), length);
  if (n > 0) {
    std::memcpy(bufferPointer + bufferLength, data, static_cast<size_t>(n));
    bufferLength += static_cast<uint32_t>(n);
  }
  return n;
}

}  // namespace qolv::net

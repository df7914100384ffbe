#include "net/pull_buffer.h"

#include <mutex>
#include <new>

namespace qolv::net {

CPullBuffer::CPullBuffer(CHeapArena* owner, uint32_t id, CBlockPoolT<CByteBlock>* blocks)
    : arena(owner), connectionId(id), chain(blocks) {}

CPullBuffer* CPullBuffer::Create(CHeapArena& arena, uint32_t connectionId, CBlockPoolT<CByteBlock>& blocks) {
  return new (arena.Allocate(sizeof(CPullBuffer))) CPullBuffer(&arena, connectionId, &blocks);
}

void CPullBuffer::Destroy(CPullBuffer* buffer) {
  CHeapArena* arena = buffer->arena;
  buffer->chain.FreeAll();
  buffer->~CPullBuffer();
  arena->Free(buffer);
}

void CPullBuffer::Append(const uint8_t* data, int32_t count) {
  // A count of 0 or less copies nothing and must not shrink the held length.
  if (count > 0) length += chain.Append(data, count);
}

int32_t CPullBuffer::Extract(uint8_t* destination, int32_t count) {
  const int32_t n = chain.Extract(destination, count);
  length -= n;
  return n;
}

bool CPullBuffer::Release(uint32_t now) {
  {
    std::lock_guard<platform::SlimLock> guard(lock);
    if (connectionId.load(std::memory_order_acquire) == 0) return false;
    connectionId.store(0, std::memory_order_release);
    length = 0;
    freeTime = now;
  }
  chain.Recycle();
  return true;
}

}  // namespace qolv::net

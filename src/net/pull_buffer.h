#pragma once
// The receive buffer of one connection of the pull server: received bytes wait in a chain of
// data blocks until the listener fetches them. Allocated from the buffer store's heap and
// recycled for later connections after a rest.
#include <atomic>
#include <cstdint>

#include "net/block_chain.h"
#include "net/heap_arena.h"
#include "platform/slim_lock.h"

namespace qolv::net {

class CPullBuffer {
 public:
  static CPullBuffer* Create(CHeapArena& arena, uint32_t connectionId, CBlockPoolT<CByteBlock>& blocks);
  // Frees the blocks without recycling them and the buffer to its heap.
  static void Destroy(CPullBuffer* buffer);
  static uint32_t FreeTime(const CPullBuffer* buffer) { return buffer->freeTime; }

  void Append(const uint8_t* data, int32_t count);
  int32_t Extract(uint8_t* destination, int32_t count);
  int32_t CopyOut(uint8_t* destination, int32_t count) const { return chain.CopyOut(destination, count); }

  // Marks the buffer released at tick now and drops its bytes into the pool. True only for the
  // one caller that released it; false when it was released already.
  bool Release(uint32_t now);

  CHeapArena* arena;
  std::atomic<uint32_t> connectionId;  // 0 while released
  int32_t length = 0;                  // bytes held in the chain
  uint32_t freeTime = 0;               // tick count of the last release
  platform::SlimLock lock;             // makes a release take effect once
  CByteBlockChain chain;

 private:
  CPullBuffer(CHeapArena* owner, uint32_t id, CBlockPoolT<CByteBlock>* blocks);
};

}  // namespace qolv::net

#pragma once
// The receive buffers of one pull server: live buffers by connection id, released ones resting
// before reuse, and the data blocks of all of them. Prepared at every server start, cleared at
// every stop.
#include <cstdint>

#include "net/block_pool.h"
#include "net/byte_block.h"
#include "net/heap_arena.h"
#include "net/index_slot_cache.h"
#include "net/object_recycler.h"
#include "net/pull_buffer.h"

namespace qolv::net {

class CServerProperties;

class CPullBufferStore {
 public:
  CPullBufferStore();
  ~CPullBufferStore();
  CPullBufferStore(const CPullBufferStore&) = delete;
  CPullBufferStore& operator=(const CPullBufferStore&) = delete;

  // Takes the sizes of a run from the server's properties (MaxConnections, BufferSize,
  // BlockPoolSize, BlockPoolHold, ReuseDelay, ConnectionPoolSize, ConnectionPoolHold) and sizes
  // the block ring, the cache and the buffer ring. Only while no worker runs.
  void Prepare(const CServerProperties& properties);

  // A buffer for a new connection: a rested one, or a new one; entered in the cache.
  CPullBuffer* ObtainBuffer(uint32_t connectionId);
  // The live buffer of the connection, or null.
  CPullBuffer* FindBuffer(uint32_t connectionId) const;
  // Takes the buffer out of the cache and puts it to rest with its blocks recycled. A second
  // release of the same buffer does nothing.
  void RecycleBuffer(CPullBuffer* buffer);
  // Destroys every buffer, live or resting, and every block, and drops all slots. Only while no
  // worker runs.
  void Clear();

  uint32_t MaxConnections() const { return maxConnections_; }
  int32_t PoolSize() const { return poolSize_; }
  int32_t Hold() const { return hold_; }
  uint32_t ReuseDelay() const { return recycler_.ReuseDelay(); }
  // Resting buffers that did not fit the ring.
  int32_t RetiredCount() const { return recycler_.RetiredCount(); }
  const CBlockPoolT<CByteBlock>& BlockPool() const { return blocks_; }

 private:
  // Cache key of an id: id mod N, or N when that is 0, so keys run from 1 to N; 0 while the
  // store has no slots.
  uint32_t KeyOf(uint32_t connectionId) const;
  // Destroys every live buffer; their cache slots are left as they are. Only while no worker runs.
  void DestroyLiveBuffers() noexcept;

  uint32_t maxConnections_ = 0;
  int32_t poolSize_ = 600;
  int32_t hold_ = 600;
  CHeapArena arena_;
  CBlockPoolT<CByteBlock> blocks_;
  CIndexSlotCache<CPullBuffer> cache_;
  CObjectRecyclerT<CPullBuffer> recycler_;
};

}  // namespace qolv::net

#pragma once
// Fixed-capacity blocks recycled through a free ring, all allocated from one private heap. A
// block type provides Create(pool, capacity), Free(block) and MakeEmpty().
#include <cstdint>

#include "net/free_ring.h"
#include "net/heap_arena.h"

namespace qolv::net {

template <typename Block>
class CBlockPoolT {
 public:
  CBlockPoolT(int32_t poolSize = 1024, int32_t hold = 1024, int32_t capacity = 4096)
      : capacity_(capacity), poolSize_(poolSize), hold_(hold) {}
  CBlockPoolT(const CBlockPoolT&) = delete;
  CBlockPoolT& operator=(const CBlockPoolT&) = delete;

  // Takes the settings of a run and gives the free ring poolSize slots (none for 0 or less);
  // blocks still in the old ring are freed. Blocks made from now on have the new capacity.
  void Prepare(int32_t capacity, int32_t poolSize, int32_t hold) {
    capacity_ = capacity;
    poolSize_ = poolSize;
    hold_ = hold;
    ring_.Drain(&Block::Free);
    ring_.Reset(poolSize > 0 ? static_cast<uint32_t>(poolSize) : 0);
  }

  // An empty block: a recycled one, or a new one with the current capacity. A recycled block
  // keeps the capacity it was made with.
  Block* ObtainBlock() {
    Block* block = nullptr;
    if (!ring_.TryPop(block)) block = Block::Create(this, capacity_);
    block->MakeEmpty();
    return block;
  }

  // Keeps the block for reuse, or frees it when the ring is full or has no slots.
  void RecycleBlock(Block* block) {
    if (!ring_.TryPush(block)) Block::Free(block);
  }

  // Frees the recycled blocks, drops the ring's slots and resets the heap, which also releases
  // every block still linked anywhere; so it runs only when no chain of the pool is in use.
  void Clear() {
    ring_.Drain(&Block::Free);
    arena_.Reset();
  }

  // As Clear, for a pool whose blocks an unfinished system operation may still write: the
  // heap is left to them instead of released, and the pool starts a new one.
  void Abandon() {
    ring_.Drain(&Block::Free);
    arena_.Abandon();
  }

  CHeapArena& Arena() { return arena_; }
  int32_t Capacity() const { return capacity_; }
  int32_t PoolSize() const { return poolSize_; }
  // Recorded for the owner; nothing here reads it.
  int32_t Hold() const { return hold_; }

 private:
  CHeapArena arena_;
  int32_t capacity_;
  int32_t poolSize_;
  int32_t hold_;
  CFreeRing<Block> ring_;
};

}  // namespace qolv::net

#pragma once
// A doubly linked chain of blocks from one pool. New bytes always go behind the last block's
// tail (free space in earlier blocks is never reused); reading takes bytes from the front and
// gives drained blocks back to the pool. The chain does not free its blocks on destruction:
// they belong to the pool's heap, and the owner recycles or frees them first.
#include <cstdint>

#include "net/block_pool.h"
#include "net/byte_block.h"
#include "net/io_block.h"

namespace qolv::net {

template <typename Block>
class CBlockChainT {
 public:
  using Pool = CBlockPoolT<Block>;

  explicit CBlockChainT(Pool* pool = nullptr) : pool_(pool) {}
  CBlockChainT(const CBlockChainT&) = delete;
  CBlockChainT& operator=(const CBlockChainT&) = delete;

  int32_t Count() const { return count_; }
  Block* First() const { return first_; }
  Block* Last() const { return last_; }
  Pool* GetPool() const { return pool_; }

  void PushBack(Block* block) {
    block->next = nullptr;
    block->prev = last_;
    if (last_ != nullptr) {
      last_->next = block;
    } else {
      first_ = block;
    }
    last_ = block;
    ++count_;
  }

  // Unlinks the first block; null when the chain is empty.
  Block* PopFront() {
    Block* block = first_;
    if (block == nullptr) return nullptr;
    first_ = block->next;
    if (first_ != nullptr) {
      first_->prev = nullptr;
    } else {
      last_ = nullptr;
    }
    block->next = nullptr;
    --count_;
    return block;
  }

  // Copies all length bytes in, taking blocks from the pool as the last one fills; returns
  // length (unchanged when it is 0 or less).
  int32_t Append(const uint8_t* data, int32_t length) {
    int32_t remaining = length;
    while (remaining > 0) {
      if (last_ == nullptr || last_->IsFull()) PushBack(pool_->ObtainBlock());
      const int32_t n = last_->Append(data, remaining);
      data += n;
      remaining -= n;
    }
    return length;
  }

  // Moves up to length bytes from the front to destination; returns the count.
  int32_t Extract(uint8_t* destination, int32_t length) {
    int32_t remaining = length;
    while (remaining > 0 && first_ != nullptr) {
      const int32_t n = first_->Extract(destination, remaining);
      destination += n;
      remaining -= n;
      if (first_->Readable() == 0) pool_->RecycleBlock(PopFront());
    }
    return length - remaining;
  }

  // As Extract, but the bytes stay in the chain.
  int32_t CopyOut(uint8_t* destination, int32_t length) const {
    int32_t remaining = length;
    for (const Block* block = first_; remaining > 0 && block != nullptr; block = block->next) {
      const int32_t n = block->CopyOut(destination, remaining);
      destination += n;
      remaining -= n;
    }
    return length - remaining;
  }

  // Gives every block back to the pool for reuse.
  void Recycle() {
    while (Block* block = PopFront()) pool_->RecycleBlock(block);
  }

  // Frees every block to its heap without recycling; for an owner that is being destroyed.
  void FreeAll() {
    while (Block* block = PopFront()) Block::Free(block);
  }

 private:
  int32_t count_ = 0;
  Block* first_ = nullptr;
  Block* last_ = nullptr;
  Pool* pool_;
};

using CByteBlockChain = CBlockChainT<CByteBlock>;
using CIoBlockChain = CBlockChainT<CIoBlock>;

}  // namespace qolv::net

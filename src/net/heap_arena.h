#pragma once
// A private heap owned by one pool. Every object of the pool is allocated here and freed back
// here; Reset drops all of them at once when the pool no longer uses any.
#include <cstddef>

#include "platform/private_heap.h"

namespace qolv::net {

class CHeapArena {
 public:
  // maximumSize 0 lets the heap grow as needed. Throws FatalError when no heap can be created.
  explicit CHeapArena(size_t maximumSize = 0);
  ~CHeapArena();
  CHeapArena(const CHeapArena&) = delete;
  CHeapArena& operator=(const CHeapArena&) = delete;

  // Throws std::bad_alloc when the heap is exhausted; never returns null.
  void* Allocate(size_t size) { return platform::AllocateFromHeap(heap_, size); }
  void Free(void* block) { platform::FreeToHeap(heap_, block); }

  // Releases every block and starts an empty heap with the same limit.
  void Reset();
  // Starts an empty heap with the same limit and leaves the old one and its blocks alone, for
  // memory the system may still write into.
  void Abandon();

 private:
  void Create();

  platform::PrivateHeap heap_ = nullptr;
  size_t maximumSize_;
};

}  // namespace qolv::net

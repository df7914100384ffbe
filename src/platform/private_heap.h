#pragma once
// A private heap: blocks are allocated and freed one by one, and destroying the heap releases
// every block still in it at once. Each engine pool keeps its memory in a heap of its own, so a
// stopping server drops any number of blocks in one step.
#include <cstddef>

namespace qolv::platform {

struct PrivateHeapState;
using PrivateHeap = PrivateHeapState*;

// Creates a heap that grows as needed (maximumSize 0) or holds at most maximumSize bytes.
// Null with the system error set when the system refuses.
PrivateHeap CreatePrivateHeap(size_t maximumSize);

// A block of at least size bytes, aligned for any object. Throws std::bad_alloc when the heap
// or the system has no memory left, so callers never test the result.
void* AllocateFromHeap(PrivateHeap heap, size_t size);

// Returns a block to the heap it was allocated from.
void FreeToHeap(PrivateHeap heap, void* block);

// Releases the heap together with every block still allocated from it.
void DestroyPrivateHeap(PrivateHeap heap);

}  // namespace qolv::platform

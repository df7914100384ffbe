#include "platform/private_heap.h"

#include <windows.h>

#include <new>

namespace qolv::platform {

// The heap is created without HEAP_GENERATE_EXCEPTIONS: a structured exception would bypass the
// C++ runtime, whereas std::bad_alloc reports exhaustion the same way on every target.
PrivateHeap CreatePrivateHeap(size_t maximumSize) {
  return reinterpret_cast<PrivateHeap>(::HeapCreate(0, 0, maximumSize));
}

void* AllocateFromHeap(PrivateHeap heap, size_t size) {
  void* block = ::HeapAlloc(reinterpret_cast<HANDLE>(heap), 0, size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void FreeToHeap(PrivateHeap heap, void* block) { ::HeapFree(reinterpret_cast<HANDLE>(heap), 0, block); }

void DestroyPrivateHeap(PrivateHeap heap) {
  if (heap != nullptr) ::HeapDestroy(reinterpret_cast<HANDLE>(heap));
}

}  // namespace qolv::platform

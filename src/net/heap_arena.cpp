#include "net/heap_arena.h"

#include "net/fatal_error.h"

namespace qolv::net {

CHeapArena::CHeapArena(size_t maximumSize) : maximumSize_(maximumSize) { Create(); }

CHeapArena::~CHeapArena() { platform::DestroyPrivateHeap(heap_); }

void CHeapArena::Reset() {
  platform::DestroyPrivateHeap(heap_);
  heap_ = nullptr;
  Create();
}

void CHeapArena::Abandon() {
  heap_ = nullptr;
  Create();
}

// A missing heap would fail at the next allocation far from the cause, so it fails here.
void CHeapArena::Create() {
  heap_ = platform::CreatePrivateHeap(maximumSize_);
  if (heap_ == nullptr) throw FatalError("a private heap cannot be created");
}

}  // namespace qolv::net

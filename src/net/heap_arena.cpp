#include "net/heap_arena.h"

#include <mutex>
#include <vector>

#include "net/fatal_error.h"
#include "platform/slim_lock.h"

namespace qolv::net {

CHeapArena::CHeapArena(size_t maximumSize) : maximumSize_(maximumSize) { Create(); }

CHeapArena::~CHeapArena() { platform::DestroyPrivateHeap(heap_); }

void CHeapArena::Reset() {
  platform::DestroyPrivateHeap(heap_);
  heap_ = nullptr;
  Create();
}

void CHeapArena::Abandon() {
  {
    // Its memory may still be written into, so it is never given back; listed, it stays
    // reachable instead of looking lost to a leak checker.
    static platform::SlimLock lock;
    static std::vector<platform::PrivateHeap>* const abandoned = new std::vector<platform::PrivateHeap>;
    std::lock_guard<platform::SlimLock> guard(lock);
    abandoned->push_back(heap_);
  }
  heap_ = nullptr;
  Create();
}

// A missing heap would fail at the next allocation far from the cause, so it fails here.
void CHeapArena::Create() {
  heap_ = platform::CreatePrivateHeap(maximumSize_);
  if (heap_ == nullptr) throw FatalError("a private heap cannot be created");
}

}  // namespace qolv::net

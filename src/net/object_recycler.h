#pragma once
// Delayed reuse of per-connection objects. A late completion or event may still touch an
// object after its release, so a released object rests for the reuse delay before it is handed
// out again or destroyed: first in a bounded free ring, and when that is full in a retire
// queue. Traits supply Traits::FreeTime(const T*) and Traits::Destroy(T*).
#include <cstdint>

#include "net/fatal_error.h"
#include "net/free_ring.h"
#include "net/retire_queue.h"
#include "platform/clock.h"

namespace qolv::net {

template <typename T, typename Traits = T>
class CObjectRecyclerT {
 public:
  // Gives the free ring poolSize slots (none for 0 or less) for a run. Only while no other
  // thread uses the recycler and after DestroyAll.
  void Prepare(int32_t poolSize, uint32_t reuseDelay) {
    reuseDelay_ = reuseDelay;
    ring_.Reset(poolSize > 0 ? static_cast<uint32_t>(poolSize) : 0);
  }

  // The oldest object of the ring once it has rested the reuse delay, its slot emptied. Null
  // when the ring is empty or its oldest object still rests; that one is written back into its
  // slot and comes round again a lap later.
  T* TakeRested() {
    T* object = nullptr;
    uint32_t slot = 0;
    if (!ring_.TryClaim(object, slot)) return nullptr;
    if (platform::TickCount() - Traits::FreeTime(object) < reuseDelay_) {
      ring_.WriteBack(slot, object);
      return nullptr;
    }
    ring_.EmptyClaimed(slot);
    return object;
  }

  // Puts a released object, its free time already set, to rest; destroys first whatever in the
  // retire queue has rested long enough.
  void Retire(T* object) {
    retired_.Reclaim(reuseDelay_, false);
    if (!ring_.TryPush(object)) retired_.Push(object);
  }

  // Destroys every resting object whatever its age and drops the ring's slots. Only while no
  // other thread uses the recycler.
  void DestroyAll() {
    DestroyResting();
    if (retired_.Count() != 0) throw FatalError("retired objects remain after a forced reclaim");
  }

  // DestroyAll without the check, for destructors, which must not throw.
  void DestroyResting() noexcept {
    ring_.Drain(&Traits::Destroy);
    retired_.Reclaim(reuseDelay_, true);
  }

  uint32_t ReuseDelay() const { return reuseDelay_; }
  // Objects waiting in the retire queue because the ring was full.
  int32_t RetiredCount() const { return retired_.Count(); }

 private:
  uint32_t reuseDelay_ = 30000;
  CFreeRing<T> ring_;
  CRetireQueue<T, Traits> retired_;
};

}  // namespace qolv::net

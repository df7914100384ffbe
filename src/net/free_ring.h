#pragma once
// A bounded ring of free objects shared by any number of threads without a lock. Each slot
// holds 0 (empty), 1 (claimed) or an object (any value above 15). The put and get counters only
// grow; a decision taken on a stale read of them is always confirmed by a compare-and-swap on
// the slot, so a race costs a retry or a skipped slot but never loses or doubles an object.
#include <atomic>
#include <cstdint>
#include <memory>

#include "net/fatal_error.h"

namespace qolv::net {

template <typename T>
class CFreeRing {
 public:
  CFreeRing() = default;
  CFreeRing(const CFreeRing&) = delete;
  CFreeRing& operator=(const CFreeRing&) = delete;

  // Replaces the slot array with size empty slots (none for 0). Objects still in the old array
  // are forgotten, so callers drain the ring first. Only while no other thread uses the ring.
  void Reset(uint32_t size) {
    slots_.reset();
    size_ = 0;
    put_.store(0, std::memory_order_relaxed);
    get_.store(0, std::memory_order_relaxed);
    if (size == 0) return;
    slots_.reset(new std::atomic<uintptr_t>[size]());
    size_ = size;
  }

  uint32_t Size() const { return size_; }

  // False when the ring has no slots, is full, or no free slot turned up in size attempts.
  bool TryPush(T* object) {
    const auto value = reinterpret_cast<uintptr_t>(object);
    for (uint32_t attempt = 0; attempt < size_; ++attempt) {
      uint32_t put = put_.load(std::memory_order_acquire);
      const uint32_t get = get_.load(std::memory_order_acquire);
      if (static_cast<int32_t>(put - get) >= static_cast<int32_t>(size_)) return false;
      std::atomic<uintptr_t>& slot = slots_[put % size_];
      uintptr_t expected = kEmpty;
      const bool stored = slot.load(std::memory_order_acquire) == kEmpty &&
                          slot.compare_exchange_strong(expected, value, std::memory_order_acq_rel);
      // Whether or not the slot was ours, the put position moves on; a failed swap means another
      // thread has moved it already.
      put_.compare_exchange_strong(put, put + 1, std::memory_order_acq_rel);
      if (stored) return true;
    }
    return false;
  }

  // Takes the oldest object; false when none is waiting between the counters.
  bool TryPop(T*& object) {
    uint32_t slot = 0;
    return Take(kEmpty, object, slot);
  }

  // Takes the oldest object but leaves the claim marker in its slot, reported in slot. The
  // claimant then either writes the object back (WriteBack) or empties the slot (EmptyClaimed).
  // A written-back object lies behind the get counter, so it is popped one lap later.
  bool TryClaim(T*& object, uint32_t& slot) { return Take(kMarker, object, slot); }

  void WriteBack(uint32_t slot, T* object) { FinishClaim(slot, reinterpret_cast<uintptr_t>(object)); }
  void EmptyClaimed(uint32_t slot) { FinishClaim(slot, kEmpty); }

  // Hands every object in any slot to destroy and releases the slot array. Only while no
  // other thread uses the ring.
  template <typename Destroy>
  void Drain(Destroy destroy) {
    for (uint32_t i = 0; i < size_; ++i) {
      const uintptr_t value = slots_[i].exchange(kEmpty, std::memory_order_acq_rel);
      if (value > kLargestMark) destroy(reinterpret_cast<T*>(value));
    }
    Reset(0);
  }

 private:
  static constexpr uintptr_t kEmpty = 0;
  static constexpr uintptr_t kMarker = 1;
  static constexpr uintptr_t kLargestMark = 15;

  bool Take(uintptr_t leave, T*& object, uint32_t& slotIndex) {
    if (size_ == 0) return false;
    uint32_t get = get_.load(std::memory_order_acquire);
    while (static_cast<int32_t>(put_.load(std::memory_order_acquire) - get) > 0) {
      const uint32_t index = get % size_;
      std::atomic<uintptr_t>& slot = slots_[index];
      uintptr_t value = slot.load(std::memory_order_acquire);
      // An empty or claimed slot at the get position is stepped over.
      const bool taken =
          value > kLargestMark && slot.compare_exchange_strong(value, leave, std::memory_order_acq_rel);
      get_.compare_exchange_strong(get, get + 1, std::memory_order_acq_rel);
      if (taken) {
        object = reinterpret_cast<T*>(value);
        slotIndex = index;
        return true;
      }
      get = get_.load(std::memory_order_acquire);
    }
    return false;
  }

  void FinishClaim(uint32_t slot, uintptr_t value) {
    uintptr_t expected = kMarker;
    if (slot >= size_ || !slots_[slot].compare_exchange_strong(expected, value, std::memory_order_acq_rel)) {
      throw FatalError("a claimed free-ring slot no longer holds its claim");
    }
  }

  uint32_t size_ = 0;
  std::unique_ptr<std::atomic<uintptr_t>[]> slots_;
  // Producers and consumers each write one counter; separate cache lines keep them from
  // invalidating each other's line on every operation.
  alignas(64) std::atomic<uint32_t> put_{0};
  alignas(64) std::atomic<uint32_t> get_{0};
};

}  // namespace qolv::net

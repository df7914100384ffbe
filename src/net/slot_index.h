#pragma once
// What both slot tables share: an array of slots, each 0 (empty), 1 (reserved) or an object
// (any value above 15), the count of non-empty slots, and the set of keys whose slot holds an
// object, guarded by a reader/writer gate. Slots and count change without a lock; only the set
// is locked, exclusively to change it and shared to copy it. A slot holds at most one object,
// so the set keeps each key at its slot: adding and removing allocate nothing, and the set
// iterates in slot order.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/rw_gate.h"

namespace qolv::net {

class CSlotIndex {
 public:
  static constexpr uintptr_t kEmpty = 0;
  static constexpr uintptr_t kMarker = 1;
  static bool IsObject(uintptr_t value) { return value > 15; }

  CSlotIndex() = default;
  CSlotIndex(const CSlotIndex&) = delete;
  CSlotIndex& operator=(const CSlotIndex&) = delete;

  uint32_t Size() const { return size_; }
  // Non-empty slots: reserved ones and those holding an object.
  int32_t Count() const { return count_.load(std::memory_order_acquire); }
  // Keys whose slot holds an object, read under the shared lock.
  uint32_t KeyCount() const;

  // The keys of the set in its iteration order. locked: copied under the shared lock; unlocked
  // only when no other thread can change the set.
  std::vector<uint32_t> Snapshot(bool locked) const;

 protected:
  // Forgets the set and the slots, then makes size empty slots (none for 0).
  void ResetSlots(uint32_t size);

  uintptr_t Load(uint32_t slot) const { return slots_[slot].load(std::memory_order_acquire); }
  bool TryOccupy(uint32_t slot, uintptr_t value);
  void AddKey(uint32_t slot, uint32_t key);

  // Puts value into slot with the count and set bookkeeping: a slot is published before the
  // count and the set show it and withdrawn from them before it is emptied. When the count
  // drops, *generation (if given) advances, which retires the ids issued for the slot. False,
  // with nothing changed, when the slot already holds value or changed under the caller.
  bool Store(uint32_t slot, uintptr_t value, uint32_t key, uintptr_t* old, std::atomic<uint8_t>* generation);

 private:
  uint32_t size_ = 0;
  std::unique_ptr<std::atomic<uintptr_t>[]> slots_;
  alignas(64) std::atomic<int32_t> count_{0};
  alignas(64) mutable CRwGate gate_;
  std::unique_ptr<uint32_t[]> keys_;  // per slot: the key of its object, 0 for none
  uint32_t keyCount_ = 0;
};

}  // namespace qolv::net

#pragma once
// Live objects by issued id. Slot p of N has an 8-bit generation g and issues id g * N + p + 1;
// emptying the slot advances g, so the ids it issued stop resolving at once and an id repeats
// only after its slot has been emptied 256 times. Ids start at 1 after every Reset.
#include <atomic>
#include <cstdint>
#include <memory>

#include "net/slot_index.h"

namespace qolv::net {

template <typename T>
class CIdSlotTable : public CSlotIndex {
 public:
  // The value that reserves a slot without publishing an object.
  static T* Marker() { return reinterpret_cast<T*>(kMarker); }

  // Forgets every entry and makes size empty slots with generation 0 (none for 0). Only while no
  // other thread uses the table.
  void Reset(uint32_t size) {
    ResetSlots(size);
    generations_.reset();
    cursor_.store(0, std::memory_order_release);
    if (size != 0) generations_.reset(new std::atomic<uint8_t>[size]());
  }

  // Claims the next empty slot from the cursor on and puts value (an object or Marker()) in it.
  // False when the table has no slots or every slot is taken.
  bool Reserve(T* value, uint32_t& id) {
    const uint32_t size = Size();
    if (size == 0 || value == nullptr) return false;
    while (static_cast<uint32_t>(Count()) < size) {
      uint32_t cursor = cursor_.load(std::memory_order_acquire);
      const uint32_t slot = cursor % size;
      const bool claimed = TryOccupy(slot, reinterpret_cast<uintptr_t>(value));
      cursor_.compare_exchange_strong(cursor, cursor + 1, std::memory_order_acq_rel);
      if (claimed) {
        id = generations_[slot].load(std::memory_order_acquire) * size + slot + 1;
        if (IsObject(reinterpret_cast<uintptr_t>(value))) AddKey(slot, id);
        return true;
      }
    }
    return false;
  }

  // The object of a current id, or null.
  T* Get(uint32_t id) const {
    uint32_t slot = 0;
    if (!SlotOf(id, slot)) return nullptr;
    const uintptr_t value = Load(slot);
    // The generation is read after the slot: a slot refilled for a newer id has a newer
    // generation, so an old id never sees the object of the new one.
    if (!IsObject(value) || !IsCurrent(id, slot)) return nullptr;
    return reinterpret_cast<T*>(value);
  }

  // Puts value (an object, Marker() or null to empty it) into the slot of a current id. old and
  // slot receive the previous value and the slot index. False when the id is not current or the
  // slot already holds value.
  bool Set(uint32_t id, T* value, T** old = nullptr, uint32_t* slotIndex = nullptr) {
    uint32_t slot = 0;
    if (!SlotOf(id, slot) || !IsCurrent(id, slot)) return false;
    if (slotIndex != nullptr) *slotIndex = slot;
    uintptr_t previous = kEmpty;
    const bool changed = Store(slot, reinterpret_cast<uintptr_t>(value), id, &previous, &generations_[slot]);
    if (old != nullptr) *old = reinterpret_cast<T*>(previous);
    return changed;
  }

 private:
  bool SlotOf(uint32_t id, uint32_t& slot) const {
    if (id == 0 || Size() == 0) return false;
    slot = (id - 1) % Size();
    return true;
  }

  bool IsCurrent(uint32_t id, uint32_t slot) const {
    return (id - 1) / Size() == generations_[slot].load(std::memory_order_acquire);
  }

  // The generations and the cursor change on different paths than the count; each has its line.
  alignas(64) std::unique_ptr<std::atomic<uint8_t>[]> generations_;
  alignas(64) std::atomic<uint32_t> cursor_{0};
};

}  // namespace qolv::net

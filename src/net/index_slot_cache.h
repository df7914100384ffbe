#pragma once
// Live objects by key, where a key runs from 1 to the number of slots and key k lives in slot
// k - 1. Lookups read one slot without a lock.
#include <cstdint>

#include "net/slot_index.h"

namespace qolv::net {

template <typename T>
class CIndexSlotCache : public CSlotIndex {
 public:
  // Forgets every entry and makes size empty slots (none for 0). Only while no other thread
  // uses the cache.
  void Reset(uint32_t size) { ResetSlots(size); }

  // The object of key, or null when the key is out of range or its slot holds no object.
  T* Get(uint32_t key) const {
    if (key == 0 || key > Size()) return nullptr;
    const uintptr_t value = Load(key - 1);
    return IsObject(value) ? reinterpret_cast<T*>(value) : nullptr;
  }

  // Puts value (null to empty the slot) under key; old receives the previous value. False when
  // the key is out of range or the slot already holds value.
  bool Set(uint32_t key, T* value, T** old = nullptr) {
    if (key == 0 || key > Size()) return false;
    uintptr_t previous = kEmpty;
    const bool changed = Store(key - 1, reinterpret_cast<uintptr_t>(value), key, &previous, nullptr);
    if (old != nullptr) *old = reinterpret_cast<T*>(previous);
    return changed;
  }
};

}  // namespace qolv::net

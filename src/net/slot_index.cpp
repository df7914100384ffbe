#include "net/slot_index.h"

namespace qolv::net {

uint32_t CSlotIndex::KeyCount() const {
  gate_.LockShared();
  const uint32_t count = keyCount_;
  gate_.Unlock();
  return count;
}

std::vector<uint32_t> CSlotIndex::Snapshot(bool locked) const {
  if (locked) gate_.LockShared();
  std::vector<uint32_t> keys;
  keys.reserve(keyCount_);
  for (uint32_t slot = 0; slot < size_ && keys.size() < keyCount_; ++slot) {
    if (keys_[slot] != 0) keys.push_back(keys_[slot]);
  }
  if (locked) gate_.Unlock();
  return keys;
}

void CSlotIndex::ResetSlots(uint32_t size) {
  keys_.reset();
  keyCount_ = 0;
  slots_.reset();
  size_ = 0;
  count_.store(0, std::memory_order_release);
  if (size == 0) return;
  slots_.reset(new std::atomic<uintptr_t>[size]());
  keys_.reset(new uint32_t[size]());
  size_ = size;
}

bool CSlotIndex::TryOccupy(uint32_t slot, uintptr_t value) {
  uintptr_t expected = kEmpty;
  if (slots_[slot].load(std::memory_order_acquire) != kEmpty ||
      !slots_[slot].compare_exchange_strong(expected, value, std::memory_order_acq_rel)) {
    return false;
  }
  count_.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

void CSlotIndex::AddKey(uint32_t slot, uint32_t key) {
  gate_.LockExclusive();
  keys_[slot] = key;
  ++keyCount_;
  gate_.Unlock();
}

bool CSlotIndex::Store(uint32_t slot, uintptr_t value, uint32_t key, uintptr_t* old,
                       std::atomic<uint8_t>* generation) {
  uintptr_t previous = slots_[slot].load(std::memory_order_acquire);
  if (old != nullptr) *old = previous;
  if (value == previous) return false;
  // Changes of the occupied count and of the key set that the move from previous to value implies.
  const int countChange = (previous == kEmpty ? 1 : 0) - (value == kEmpty ? 1 : 0);
  const int setChange = (IsObject(value) ? 1 : 0) - (IsObject(previous) ? 1 : 0);
  const bool publishing = countChange + setChange >= 0;
  if (publishing && !slots_[slot].compare_exchange_strong(previous, value, std::memory_order_acq_rel)) {
    if (old != nullptr) *old = previous;
    return false;
  }
  if (countChange > 0) count_.fetch_add(1, std::memory_order_acq_rel);
  if (setChange != 0) {
    gate_.LockExclusive();
    if (setChange > 0) {
      keys_[slot] = key;
      ++keyCount_;
    } else {
      keys_[slot] = 0;
      --keyCount_;
    }
    gate_.Unlock();
  }
  if (countChange < 0) {
    count_.fetch_sub(1, std::memory_order_acq_rel);
    if (generation != nullptr) generation->fetch_add(1, std::memory_order_acq_rel);
  }
  if (!publishing) slots_[slot].store(value, std::memory_order_release);
  return true;
}

}  // namespace qolv::net

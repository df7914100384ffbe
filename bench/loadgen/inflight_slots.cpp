#include "inflight_slots.h"

namespace qolv::bench {

InflightSlots::InflightSlots(uint32_t count) : entries_(count), busy_(count, false) {
  free_.reserve(count);
  for (uint32_t slot = count; slot > 0; --slot) free_.push_back(slot - 1);
}

bool InflightSlots::Take(uint64_t sequence, int64_t sentNs, bool measured, uint32_t& slot) {
  if (free_.empty()) return false;
  slot = free_.back();
  free_.pop_back();
  entries_[slot] = Entry{sequence, sentNs, measured};
  busy_[slot] = true;
  return true;
}

bool InflightSlots::Complete(uint32_t slot, uint64_t sequence, Entry& entry) {
  if (slot >= entries_.size() || !busy_[slot] || entries_[slot].sequence != sequence) return false;
  entry = entries_[slot];
  busy_[slot] = false;
  free_.push_back(slot);
  return true;
}

}  // namespace qolv::bench

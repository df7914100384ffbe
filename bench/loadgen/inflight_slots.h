#pragma once
#include <cstdint>
#include <vector>

namespace qolv::bench {

// The frames of one connection that wait for their answers, one slot per frame in flight.
class InflightSlots {
 public:
  struct Entry {
    uint64_t sequence = 0;
    int64_t sentNs = 0;
    bool measured = false;  // sent after the warm-up
  };

  explicit InflightSlots(uint32_t count);

  // Puts a frame sent at sentNs in a free slot; false when every slot is busy.
  bool Take(uint64_t sequence, int64_t sentNs, bool measured, uint32_t& slot);
  // Frees the slot when it holds the frame of that sequence; false for an answer to a frame
  // that is not in flight (never sent, or answered already).
  bool Complete(uint32_t slot, uint64_t sequence, Entry& entry);

  uint32_t Busy() const { return static_cast<uint32_t>(entries_.size() - free_.size()); }

 private:
  std::vector<Entry> entries_;
  std::vector<bool> busy_;
  std::vector<uint32_t> free_;
};

}  // namespace qolv::bench

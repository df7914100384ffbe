#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/overlapped.h"

namespace qolv::platform::posix {

// The port's queue of finished operations and posted packets, oldest first. A ring that grows
// by doubling and never shrinks, so once it has reached the working size it allocates nothing.
class CompletionRing {
 public:
  struct Item {
    Overlapped* op;  // null for a posted packet
    uint32_t bytes;  // posted packets only
    uintptr_t key;   // posted packets only
  };

  bool Empty() const { return count_ == 0; }

  void Push(const Item& item) {
    if (count_ == items_.size()) Grow();
    items_[(head_ + count_) % items_.size()] = item;
    ++count_;
  }

  Item Pop() {
    const Item item = items_[head_];
    head_ = (head_ + 1) % items_.size();
    --count_;
    return item;
  }

 private:
  void Grow() {
    std::vector<Item> larger(items_.empty() ? 64 : items_.size() * 2);
    for (size_t i = 0; i < count_; ++i) larger[i] = items_[(head_ + i) % items_.size()];
    items_.swap(larger);
    head_ = 0;
  }

  std::vector<Item> items_;
  size_t head_ = 0;
  size_t count_ = 0;
};

}  // namespace qolv::platform::posix

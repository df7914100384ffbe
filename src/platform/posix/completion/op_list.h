#pragma once
#include "platform/overlapped.h"

namespace qolv::platform::posix {

// A FIFO of operations linked through Overlapped::next. An operation sits in at most one list
// at a time (a socket's pending list or a batch of finished ones), so no list allocates.
class OpList {
 public:
  bool Empty() const { return head_ == nullptr; }
  Overlapped* Front() const { return head_; }

  void Push(Overlapped* op) {
    op->next = nullptr;
    if (tail_ != nullptr) {
      tail_->next = op;
    } else {
      head_ = op;
    }
    tail_ = op;
  }

  Overlapped* Pop() {
    Overlapped* op = head_;
    if (op != nullptr) {
      head_ = op->next;
      if (head_ == nullptr) tail_ = nullptr;
      op->next = nullptr;
    }
    return op;
  }

  // Moves every operation of other to the end of this list.
  void Append(OpList& other) {
    if (other.head_ == nullptr) return;
    if (tail_ != nullptr) {
      tail_->next = other.head_;
    } else {
      head_ = other.head_;
    }
    tail_ = other.tail_;
    other.head_ = other.tail_ = nullptr;
  }

 private:
  Overlapped* head_ = nullptr;
  Overlapped* tail_ = nullptr;
};

}  // namespace qolv::platform::posix

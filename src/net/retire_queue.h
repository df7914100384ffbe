#pragma once
// Released objects that wait out their reuse delay before they are destroyed, in release order.
// Any number of threads push; one thread at a time reclaims (the drain lock). Traits supply
// Traits::FreeTime(const T*), the tick count of the release, and Traits::Destroy(T*).
#include <atomic>
#include <cstdint>

#include "net/cpu_pause.h"
#include "platform/clock.h"

namespace qolv::net {

template <typename T, typename Traits = T>
class CRetireQueue {
 public:
  CRetireQueue() : head_(new Node{nullptr, {nullptr}}), tail_(head_) {}
  CRetireQueue(const CRetireQueue&) = delete;
  CRetireQueue& operator=(const CRetireQueue&) = delete;

  // Frees the nodes; the objects are the owner's, and it reclaims them first.
  ~CRetireQueue() {
    for (Node* node = head_; node != nullptr;) {
      Node* next = node->next.load(std::memory_order_acquire);
      delete node;
      node = next;
    }
  }

  void Push(T* object) {
    Node* node = new Node{object, {nullptr}};
    Node* previous = tail_.exchange(node, std::memory_order_acq_rel);
    // Until this link is made a reclaiming thread sees the queue end at previous; it finds the
    // object on a later pass.
    previous->next.store(node, std::memory_order_release);
    count_.fetch_add(1, std::memory_order_acq_rel);
  }

  // Forced: destroys every queued object whatever its age, waiting for the drain lock.
  // Unforced: at most once per check interval, destroys the objects that have rested delay ms,
  // stopping at the first one still resting; gives up at once if another thread is reclaiming.
  void Reclaim(uint32_t delay, bool forced) {
    if (forced) {
      ReclaimAll();
    } else {
      ReclaimRested(delay);
    }
  }

  int32_t Count() const { return count_.load(std::memory_order_acquire); }

 private:
  struct Node {
    T* object;
    std::atomic<Node*> next;
  };

  // The interval between two unforced passes: a third of the delay, within 1 to 15 seconds.
  static int32_t CheckInterval(uint32_t delay) {
    const uint32_t third = delay / 3;
    return static_cast<int32_t>(third < 1000 ? 1000 : third > 15000 ? 15000 : third);
  }

  bool TryLockDrain() {
    uint32_t expected = 0;
    return drainLock_.compare_exchange_strong(expected, 1, std::memory_order_acq_rel,
                                              std::memory_order_acquire);
  }
  void UnlockDrain() { drainLock_.store(0, std::memory_order_release); }

  // Unlinks the first queued object (the caller holds the drain lock and knows it exists).
  T* Unlink(Node* first) {
    Node* dummy = head_;
    head_ = first;
    count_.fetch_sub(1, std::memory_order_acq_rel);
    delete dummy;
    return first->object;
  }

  void ReclaimAll() {
    while (!TryLockDrain()) CpuPause();
    while (Node* first = head_->next.load(std::memory_order_acquire)) Traits::Destroy(Unlink(first));
    UnlockDrain();
  }

  void ReclaimRested(uint32_t delay) {
    if (Count() == 0) return;
    int32_t since = static_cast<int32_t>(platform::TickCount() - lastCheck_.load(std::memory_order_acquire));
    // A last check far in the future can only be a wrapped tick count: treat it as long ago.
    if (since < -60000) since = 0x7FFFFFFF;
    if (since < CheckInterval(delay)) return;
    if (!TryLockDrain()) return;
    uint32_t now = platform::TickCount();
    if (now == 0) now = platform::TickCount();  // 0 is the value of "never checked"
    lastCheck_.store(now, std::memory_order_release);
    while (Node* first = head_->next.load(std::memory_order_acquire)) {
      if (static_cast<int32_t>(now - Traits::FreeTime(first->object)) < static_cast<int32_t>(delay)) break;
      T* object = Unlink(first);
      // Destroying may take a while; other threads may drain meanwhile.
      UnlockDrain();
      Traits::Destroy(object);
      if (!TryLockDrain()) return;
    }
    UnlockDrain();
  }

  alignas(64) std::atomic<uint32_t> drainLock_{0};
  std::atomic<int32_t> count_{0};
  Node* head_;  // the dummy node; read and written only under the drain lock
  std::atomic<uint32_t> lastCheck_{0};
  // Pushers write the tail; keep it off the reclaimer's line.
  alignas(64) std::atomic<Node*> tail_;
};

}  // namespace qolv::net

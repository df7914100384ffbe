#pragma once
// A reader/writer lock that favours writers: a reader arriving while a writer waits waits too,
// a gate that comes free goes to one waiting writer first, and all waiting readers are let in
// together. The thread that unlocks admits the ones it wakes, so a woken thread returns from its
// wait already inside. Not re-entrant.
#include <cstdint>

#include "net/counting_semaphore.h"
#include "net/spin_flag.h"

namespace qolv::net {

class CRwGate {
 public:
  CRwGate() = default;
  CRwGate(const CRwGate&) = delete;
  CRwGate& operator=(const CRwGate&) = delete;

  void LockShared();
  void LockExclusive();
  // Ends a shared or an exclusive hold.
  void Unlock();

  // Threads blocked in LockShared and LockExclusive; for observers that must know who waits.
  int32_t WaitingReaders();
  int32_t WaitingWriters();

 private:
  int32_t waitingReaders_ = 0;
  int32_t waitingWriters_ = 0;
  int32_t state_ = 0;  // n > 0: n readers inside; -1: a writer inside; 0: free
  CSpinFlag guard_;    // protects the three counters
  CCountingSemaphore readers_;
  CCountingSemaphore writers_;
};

}  // namespace qolv::net

#include "net/rw_gate.h"

#include <mutex>

namespace qolv::net {

void CRwGate::LockShared() {
  {
    std::lock_guard<CSpinFlag> guard(guard_);
    if (waitingWriters_ == 0 && state_ >= 0) {
      ++state_;
      return;
    }
    ++waitingReaders_;
  }
  readers_.Acquire();
}

void CRwGate::LockExclusive() {
  {
    std::lock_guard<CSpinFlag> guard(guard_);
    if (state_ == 0) {
      state_ = -1;
      return;
    }
    ++waitingWriters_;
  }
  writers_.Acquire();
}

void CRwGate::Unlock() {
  int32_t readersToWake = 0;
  bool wakeWriter = false;
  {
    std::lock_guard<CSpinFlag> guard(guard_);
    state_ += state_ > 0 ? -1 : 1;
    if (state_ == 0) {
      if (waitingWriters_ > 0) {
        --waitingWriters_;
        state_ = -1;
        wakeWriter = true;
      } else if (waitingReaders_ > 0) {
        state_ = waitingReaders_;
        readersToWake = waitingReaders_;
        waitingReaders_ = 0;
      }
    }
  }
  if (wakeWriter) writers_.Release();
  if (readersToWake > 0) readers_.Release(readersToWake);
}

int32_t CRwGate::WaitingReaders() {
  std::lock_guard<CSpinFlag> guard(guard_);
  return waitingReaders_;
}

int32_t CRwGate::WaitingWriters() {
  std::lock_guard<CSpinFlag> guard(guard_);
  return waitingWriters_;
}

}  // namespace qolv::net

#pragma once
// A small exclusive lock, and a condition to wait on under it, that keep no kernel object,
// waited on or not, and so need nothing released when they go: an SRW lock and a condition
// variable on Windows, a pthread mutex and condition on Linux, whose waits need no object of
// their own.
//
// The mingw runtime's std::mutex and std::condition_variable make their kernel objects at their
// first contention and keep them until they are destroyed: every connection object resting in a
// pool would hold handles, and a long-lived lock adds one whenever it first happens to be
// contended.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qolv::platform {

class SlimLock {
 public:
  SlimLock() noexcept;
  ~SlimLock();
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept;
  bool try_lock() noexcept;
  void unlock() noexcept;

 private:
  friend class SlimCondition;
  // The system's lock lives here. A std::mutex wraps the native mutex of the target, so its size
  // fits either: the SRW lock is pointer-sized, as the mingw pthread mutex is.
  alignas(std::mutex) unsigned char storage_[sizeof(std::mutex)];
};

class SlimCondition {
 public:
  SlimCondition() noexcept;
  ~SlimCondition();
  SlimCondition(const SlimCondition&) = delete;
  SlimCondition& operator=(const SlimCondition&) = delete;

  // Called with lock held: releases it while waiting and holds it again on return. May return
  // before a notification; false once timeoutMs has passed (kInfinite: no limit).
  bool Wait(SlimLock& lock, uint32_t timeoutMs);
  void NotifyOne() noexcept;
  void NotifyAll() noexcept;

 private:
  // As for the lock: the Windows condition variable is pointer-sized, as the mingw one is.
  alignas(std::condition_variable) unsigned char storage_[sizeof(std::condition_variable)];
};

}  // namespace qolv::platform

// glibc's mutex and condition wait on their own words (futexes), so the standard ones keep
// nothing in the kernel.
#include "platform/slim_lock.h"

#include <chrono>
#include <new>

#include "platform/clock.h"

namespace qolv::platform {
namespace {

std::mutex* Native(unsigned char* storage) { return std::launder(reinterpret_cast<std::mutex*>(storage)); }
std::condition_variable* NativeCondition(unsigned char* storage) {
  return std::launder(reinterpret_cast<std::condition_variable*>(storage));
}

}  // namespace

SlimLock::SlimLock() noexcept { new (storage_) std::mutex; }

SlimLock::~SlimLock() { Native(storage_)->~mutex(); }

void SlimLock::lock() noexcept { Native(storage_)->lock(); }

bool SlimLock::try_lock() noexcept { return Native(storage_)->try_lock(); }

void SlimLock::unlock() noexcept { Native(storage_)->unlock(); }

SlimCondition::SlimCondition() noexcept { new (storage_) std::condition_variable; }

SlimCondition::~SlimCondition() { NativeCondition(storage_)->~condition_variable(); }

bool SlimCondition::Wait(SlimLock& lock, uint32_t timeoutMs) {
  // The caller holds the lock and keeps holding it: the guard only lends it to the wait.
  std::unique_lock<std::mutex> held(*Native(lock.storage_), std::adopt_lock);
  bool notified = true;
  if (timeoutMs == kInfinite) {
    NativeCondition(storage_)->wait(held);
  } else {
    notified = NativeCondition(storage_)->wait_for(held, std::chrono::milliseconds(timeoutMs)) ==
               std::cv_status::no_timeout;
  }
  held.release();
  return notified;
}

void SlimCondition::NotifyOne() noexcept { NativeCondition(storage_)->notify_one(); }

void SlimCondition::NotifyAll() noexcept { NativeCondition(storage_)->notify_all(); }

}  // namespace qolv::platform

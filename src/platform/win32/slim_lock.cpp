#include "platform/slim_lock.h"

#include <windows.h>

#include "platform/clock.h"

namespace qolv::platform {
namespace {

static_assert(sizeof(SRWLOCK) <= sizeof(std::mutex) && alignof(SRWLOCK) <= alignof(std::mutex));
static_assert(sizeof(CONDITION_VARIABLE) <= sizeof(std::condition_variable) &&
              alignof(CONDITION_VARIABLE) <= alignof(std::condition_variable));

SRWLOCK* Native(unsigned char* storage) { return reinterpret_cast<SRWLOCK*>(storage); }
CONDITION_VARIABLE* NativeCondition(unsigned char* storage) {
  return reinterpret_cast<CONDITION_VARIABLE*>(storage);
}

}  // namespace

SlimLock::SlimLock() noexcept { ::InitializeSRWLock(Native(storage_)); }

// Neither an SRW lock nor a condition variable has anything to release.
SlimLock::~SlimLock() = default;

void SlimLock::lock() noexcept { ::AcquireSRWLockExclusive(Native(storage_)); }

bool SlimLock::try_lock() noexcept { return ::TryAcquireSRWLockExclusive(Native(storage_)) != FALSE; }

void SlimLock::unlock() noexcept { ::ReleaseSRWLockExclusive(Native(storage_)); }

SlimCondition::SlimCondition() noexcept { ::InitializeConditionVariable(NativeCondition(storage_)); }

SlimCondition::~SlimCondition() = default;

bool SlimCondition::Wait(SlimLock& lock, uint32_t timeoutMs) {
  const DWORD limit = timeoutMs == kInfinite ? INFINITE : timeoutMs;
  return ::SleepConditionVariableSRW(NativeCondition(storage_), Native(lock.storage_), limit, 0) != FALSE;
}

void SlimCondition::NotifyOne() noexcept { ::WakeConditionVariable(NativeCondition(storage_)); }

void SlimCondition::NotifyAll() noexcept { ::WakeAllConditionVariable(NativeCondition(storage_)); }

}  // namespace qolv::platform

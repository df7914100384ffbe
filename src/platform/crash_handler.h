#pragma once
// Process-wide crash handling: the hardening policies, the filter that runs when nothing else
// handles a crash, and what the crash path may use without allocating or locking.
#include <cstdint>
#include <utility>

#include "platform/clock.h"

namespace qolv::platform {

// What the system reports about a crash: the exception pointers on Windows; the signal, its
// details and the interrupted registers on Linux. Only the platform layer looks inside.
struct CrashContext;

// Runs on the crashing thread. On Linux it runs inside a signal handler on the thread's
// alternate signal stack (when it has one), so it may use async-signal-safe calls only.
// Returning 0 hands the crash on to the system's own handling, which ends the process.
using CrashFilterFunction = int32_t (*)(CrashContext* context);

// The crash handling that was in place before InstallCrashFilter. On Windows it is the previous
// unhandled-exception filter and is empty when there was none. On Linux it is the previous
// disposition of every crash signal; the default action counts too, so it is never empty after
// an install.
class PreviousCrashFilter {
 public:
  PreviousCrashFilter() = default;
  explicit PreviousCrashFilter(void* state) : state_(state) {}
  ~PreviousCrashFilter();  // releases the saved state without putting it back
  PreviousCrashFilter(PreviousCrashFilter&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  PreviousCrashFilter& operator=(PreviousCrashFilter&& other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  PreviousCrashFilter(const PreviousCrashFilter&) = delete;
  PreviousCrashFilter& operator=(const PreviousCrashFilter&) = delete;

  explicit operator bool() const { return state_ != nullptr; }

  // Platform state; only the platform layer looks inside.
  void* state() const { return state_; }
  void* Release() { return std::exchange(state_, nullptr); }

 private:
  void* state_ = nullptr;
};

// Makes filter the process's handler of crashes that nothing else handles (Windows:
// SetUnhandledExceptionFilter; Linux: handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT
// on the alternate signal stack) and returns what was in place. The fatal ends that raise no
// exception reach the filter too, on the thread that ended: std::terminate (an exception nobody
// caught, a std::bad_alloc or an engine's broken invariant among them) and abort(). On Linux
// terminate calls abort, whose SIGABRT is handled; on Windows a terminate handler and a SIGABRT
// handler give the filter an exception of code kFatalEndCode with the thread's registers, and
// after the filter the process ends with that code. Also prepares what the crash path reads
// (CrashSafeLocalNow, the dump writer's system facts).
PreviousCrashFilter InstallCrashFilter(CrashFilterFunction filter);

// The exception code (and, on Windows, the exit code) of a fatal end that raised no exception:
// STATUS_FATAL_APP_EXIT. On Linux such an end is the signal SIGABRT.
inline constexpr uint32_t kFatalEndCode = 0x40000015u;

// Puts back what InstallCrashFilter returned and empties previous; nothing when it is empty.
void RestoreCrashFilter(PreviousCrashFilter& previous);

// The local wall-clock time, safe to read inside a crash filter. On Linux the zone offsets of
// the coming years are worked out once (on the first call or at InstallCrashFilter), because
// the system's local-time conversion may allocate and lock.
LocalTime CrashSafeLocalNow();

// An alternate stack for the calling thread's crash handling, so that a crash filter still
// runs after the thread's own stack overflowed. Linux: a guarded sigaltstack of 64 KiB, put
// away again when the object ends (it must end on the thread that made it). Windows: a stack
// guarantee for overflow handling (SetThreadStackGuarantee), which lasts for the thread's life.
// Threads the service creates should hold one for their whole run.
class ThreadCrashStack {
 public:
  ThreadCrashStack();
  ~ThreadCrashStack();
  ThreadCrashStack(const ThreadCrashStack&) = delete;
  ThreadCrashStack& operator=(const ThreadCrashStack&) = delete;

  bool installed() const { return installed_; }

 private:
  void* memory_ = nullptr;
  uint64_t size_ = 0;
  bool installed_ = false;
};

// Whether this system has the hardening policies below (Windows yes, Linux no).
#if defined(_WIN32)
inline constexpr bool kProcessHardeningExists = true;
#else
inline constexpr bool kProcessHardeningExists = false;
#endif

// The outcome of one hardening call: the call's result and the system error right after it.
// exists is false on a system without the policy; then nothing was called.
struct HardeningStep {
  bool exists = false;
  uint32_t result = 0;
  uint32_t error = 0;
};

// Ends the process when a heap is found corrupt (HeapSetInformation with
// HeapEnableTerminationOnCorruption for all heaps).
HardeningStep EnableHeapTerminationOnCorruption();

// Turns data execution prevention on without thunk emulation (SetProcessDEPPolicy with 3).
HardeningStep EnableDataExecutionPrevention();

// Stops the system from swallowing exceptions raised in callbacks: reads the user-mode exception
// policy and writes it back with bit 0 cleared. Both functions are looked up at run time in
// "KERNEL32"; systems without them are a normal case.
struct ExceptionPolicyStep {
  enum class Outcome {
    kNotOnThisSystem,    // Linux: there is no such policy, nothing was called
    kNoSystemModule,     // "KERNEL32" was not found
    kNoPolicyFunctions,  // the get or the set function is missing
    kCalled,             // the get function was called (see readSucceeded)
  };
  Outcome outcome = Outcome::kNotOnThisSystem;
  bool readSucceeded = false;  // the get call succeeded, so the set call was made
  uint32_t flags = 0;          // the flags read (before clearing bit 0), 0 when the read failed
  uint32_t setResult = 0;      // the set call's result when it was made
};
ExceptionPolicyStep StopSwallowingCallbackExceptions();

}  // namespace qolv::platform

#include "platform/crash_handler.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <exception>

#include "platform/clock.h"
#include "platform/process_end_detail.h"
#include "platform/win32/crash_context.h"

namespace qolv::platform {
namespace {

static_assert(kFatalEndCode == STATUS_FATAL_APP_EXIT);

std::atomic<CrashFilterFunction> g_filter{nullptr};

struct SavedFilter {
  LPTOP_LEVEL_EXCEPTION_FILTER system;
  CrashFilterFunction filter;  // what OnUnhandledException called when system is ours
  std::terminate_handler terminate;
  void (*abortHandler)(int);
};

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  CrashContext context{pointers};
  const CrashFilterFunction filter = g_filter.load(std::memory_order_acquire);
  return filter != nullptr ? filter(&context) : EXCEPTION_CONTINUE_SEARCH;
}

// std::terminate (an exception nobody caught, or one leaving a thread or a noexcept function)
// and abort() raise no exception here: the C++ runtime calls the terminate handler and the C
// runtime the SIGABRT handler, both on the thread that ended, and then the process just exits with
// code 3. So both come here instead: the filter sees an exception of their own with this thread's
// registers, and the process ends with that code, which the service manager counts as a failure.
[[noreturn]] void EndAsCrash() {
  CONTEXT registers{};
  ::RtlCaptureContext(&registers);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = kFatalEndCode;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(registers.Rip);
  EXCEPTION_POINTERS pointers{&record, &registers};
  CrashContext context{&pointers};
  if (const CrashFilterFunction filter = g_filter.load(std::memory_order_acquire)) filter(&context);
  detail::EndProcess(kFatalEndCode);
}

void OnTerminate() { EndAsCrash(); }
void OnAbortSignal(int) { EndAsCrash(); }

}  // namespace

PreviousCrashFilter::~PreviousCrashFilter() { delete static_cast<SavedFilter*>(state_); }

PreviousCrashFilter InstallCrashFilter(CrashFilterFunction filter) {
  const CrashFilterFunction previousFilter = g_filter.exchange(filter, std::memory_order_acq_rel);
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(OnUnhandledException);
  const std::terminate_handler previousTerminate = std::set_terminate(OnTerminate);
  void (*const previousAbort)(int) = std::signal(SIGABRT, OnAbortSignal);
  if (previous == nullptr) return PreviousCrashFilter();
  return PreviousCrashFilter(new SavedFilter{previous, previousFilter, previousTerminate, previousAbort});
}

void RestoreCrashFilter(PreviousCrashFilter& previous) {
  auto* saved = static_cast<SavedFilter*>(previous.Release());
  if (saved == nullptr) return;
  g_filter.store(saved->filter, std::memory_order_release);
  ::SetUnhandledExceptionFilter(saved->system);
  std::set_terminate(saved->terminate);
  std::signal(SIGABRT, saved->abortHandler == SIG_ERR ? SIG_DFL : saved->abortHandler);
  delete saved;
}

// An exception filter runs in the crashing thread's ordinary context, where the system's local
// time is safe to read.
LocalTime CrashSafeLocalNow() { return LocalNow(); }

ThreadCrashStack::ThreadCrashStack() {
  ULONG reserve = 64 * 1024;
  installed_ = ::SetThreadStackGuarantee(&reserve) != FALSE;
}

// A stack guarantee lasts as long as its thread; there is nothing to take back.
ThreadCrashStack::~ThreadCrashStack() = default;

HardeningStep EnableHeapTerminationOnCorruption() {
  const BOOL done = ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  return HardeningStep{true, static_cast<uint32_t>(done), ::GetLastError()};
}

HardeningStep EnableDataExecutionPrevention() {
  const BOOL done = ::SetProcessDEPPolicy(PROCESS_DEP_ENABLE | PROCESS_DEP_DISABLE_ATL_THUNK_EMULATION);
  return HardeningStep{true, static_cast<uint32_t>(done), ::GetLastError()};
}

ExceptionPolicyStep StopSwallowingCallbackExceptions() {
  using Outcome = ExceptionPolicyStep::Outcome;
  ExceptionPolicyStep step;
  const HMODULE kernel = ::GetModuleHandleW(L"KERNEL32");
  if (kernel == nullptr) {
    step.outcome = Outcome::kNoSystemModule;
    return step;
  }
  // Not in every system's kernel32 (nor in the mingw headers), so both are looked up.
  using GetPolicy = BOOL(WINAPI*)(LPDWORD);
  using SetPolicy = BOOL(WINAPI*)(DWORD);
  const auto get = reinterpret_cast<GetPolicy>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "GetProcessUserModeExceptionPolicy")));
  const auto set = reinterpret_cast<SetPolicy>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetProcessUserModeExceptionPolicy")));
  if (get == nullptr || set == nullptr) {
    step.outcome = Outcome::kNoPolicyFunctions;
    return step;
  }
  step.outcome = Outcome::kCalled;
  DWORD flags = 0;
  if (get(&flags)) {
    constexpr DWORD kCallbackFilterEnabled = 0x1;  // the system swallows exceptions in callbacks
    step.readSucceeded = true;
    step.flags = flags;
    step.setResult = static_cast<uint32_t>(set(flags & ~kCallbackFilterEnabled));
  }
  return step;
}

}  // namespace qolv::platform

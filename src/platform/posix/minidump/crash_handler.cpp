#include "platform/crash_handler.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/posix/minidump/crash_context.h"
#include "platform/posix/minidump/minidump_facts.h"
#include "platform/zone_offset_table.h"

namespace qolv::platform {
namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = sizeof kCrashSignals / sizeof kCrashSignals[0];

struct SavedHandlers {
  struct sigaction actions[kSignalCount];
  CrashFilterFunction filter;
};

std::atomic<CrashFilterFunction> g_filter{nullptr};

void OnCrashSignal(int signal, siginfo_t* info, void* registers) {
  const int savedErrno = errno;
  CrashContext context{signal, info, static_cast<const ucontext_t*>(registers),
                       static_cast<uint32_t>(::syscall(SYS_gettid))};
  if (CrashFilterFunction filter = g_filter.load(std::memory_order_acquire)) filter(&context);

  // Hand the crash to the system: back to the default action, then let the signal come again.
  // A fault of the processor comes again by itself when the instruction is retried on return,
  // which keeps the system's core dump pointing at the fault; a signal sent by software (abort,
  // kill) has to be sent again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  errno = savedErrno;
  if (info == nullptr || info->si_code <= 0) ::raise(signal);
}

int32_t SystemOffsetAt(int64_t unixSeconds) {
  const time_t moment = static_cast<time_t>(unixSeconds);
  tm local{};
  ::localtime_r(&moment, &local);
  return static_cast<int32_t>(local.tm_gmtoff);
}

// Built on first use, outside any crash: InstallCrashFilter reads it once before the handlers go in.
const ZoneOffsetTable& Zone() {
  // Ten years ahead; a process that runs longer keeps the last offset found.
  static const ZoneOffsetTable table = [] {
    ZoneOffsetTable built;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    built.Build(now.tv_sec, 3660, SystemOffsetAt);
    return built;
  }();
  return table;
}

}  // namespace

PreviousCrashFilter::~PreviousCrashFilter() { delete static_cast<SavedHandlers*>(state_); }

PreviousCrashFilter InstallCrashFilter(CrashFilterFunction filter) {
  (void)Zone();
  posix::PrepareMinidumpFacts();
  auto* saved = new SavedHandlers{};
  saved->filter = g_filter.exchange(filter, std::memory_order_acq_rel);
  // SA_NODEFER lets a crash inside the filter reach the filter again (which then only reports
  // it) instead of ending the process silently on a blocked signal.
  struct sigaction action {};
  action.sa_sigaction = OnCrashSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kCrashSignals[i], &action, &saved->actions[i]);
  return PreviousCrashFilter(saved);
}

void RestoreCrashFilter(PreviousCrashFilter& previous) {
  auto* saved = static_cast<SavedHandlers*>(previous.Release());
  if (saved == nullptr) return;
  for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kCrashSignals[i], &saved->actions[i], nullptr);
  g_filter.store(saved->filter, std::memory_order_release);
  delete saved;
}

LocalTime CrashSafeLocalNow() {
  const ZoneOffsetTable& zone = Zone();
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return zone.LocalAt(now.tv_sec, static_cast<int>(now.tv_nsec / 1000000));
}

ThreadCrashStack::ThreadCrashStack() {
  // A thread that already has an alternate stack (a sanitizer's, or one made earlier) keeps it.
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t wanted = std::max<size_t>(64 * 1024, 4 * MINSIGSTKSZ);
  const size_t usable = (wanted + page - 1) / page * page;
  void* memory =
      ::mmap(nullptr, usable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return;
  // The lowest page stays inaccessible, so a handler that overruns the stack faults instead of
  // writing over whatever lies below.
  ::mprotect(memory, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(memory) + page;
  stack.ss_size = usable;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(memory, usable + page);
    return;
  }
  memory_ = memory;
  size_ = usable + page;
  installed_ = true;
}

ThreadCrashStack::~ThreadCrashStack() {
  if (!installed_) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  ::sigaltstack(&off, nullptr);
  ::munmap(memory_, static_cast<size_t>(size_));
}

// Linux has none of the Windows hardening policies: nothing is called and nothing is reported.
HardeningStep EnableHeapTerminationOnCorruption() { return {}; }
HardeningStep EnableDataExecutionPrevention() { return {}; }
ExceptionPolicyStep StopSwallowingCallbackExceptions() { return {}; }

}  // namespace qolv::platform

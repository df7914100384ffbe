// A program that installs the crash guard and then crashes the way its first argument names.
// The crash tests run it as a child process in a folder of its own and examine what it leaves
// behind. Everything the guard sends to the debugger output is copied to standard error.
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/crash_handler.h"
#include "platform/debug_output.h"
#include "platform/standard_error.h"
#include "request/task.h"
#include "request/task_worker.h"
#include "service/crash_guard.h"

// Read at run time, so the compiler cannot see that the store faults and replace it with a trap.
volatile uintptr_t g_badAddress = 0x10;

enum class Mode { kPlain, kNested, kTwoThreads };
std::atomic<Mode> g_mode{Mode::kPlain};
std::atomic<bool> g_nestedCrashDone{false};
// Two-thread mode: 1 lets the second thread crash, 2 says its crash was reported.
std::atomic<int> g_phase{0};
std::atomic<bool> g_idleRunning{false};

[[gnu::noinline]] void QolvCrashHere() { *reinterpret_cast<volatile int*>(g_badAddress) = 1; }
[[gnu::noinline]] void QolvCrashInHandler() { *reinterpret_cast<volatile int*>(g_badAddress) = 2; }
[[gnu::noinline]] void QolvCrashSecond() { *reinterpret_cast<volatile int*>(g_badAddress) = 3; }
[[gnu::noinline]] void QolvAbortHere() { std::abort(); }

// Each frame keeps a buffer alive across the call, so the recursion can be neither flattened
// nor turned into a loop; the flag is always set, but the compiler cannot know.
volatile bool g_recurse = true;
[[gnu::noinline]] int QolvRecurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  return g_recurse ? QolvRecurse(depth + 1) + frame[0] : 0;
}

// A task whose run overflows its worker thread's stack, as a runaway SDK call would.
class QolvRecursingTask : public qolv::Task {
 public:
  void Run() override { QolvRecurse(0); }
};

// A thread that waits in the kernel, for the dump's list of threads other than the crashing one.
[[gnu::noinline]] void QolvIdleWorker() {
  g_idleRunning.store(true);
  for (int i = 0; i < 6000; ++i) qolv::platform::SleepMs(10);
}

[[gnu::noinline]] void QolvSecondThread() {
  for (int i = 0; i < 6000 && g_phase.load() != 1; ++i) qolv::platform::SleepMs(10);
  QolvCrashSecond();
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Runs inside the crash filter: async-signal-safe calls only.
void CopyToStandardError(const char* text) {
  qolv::platform::WriteStandardError(text);
  const Mode mode = g_mode.load();
  if (mode == Mode::kNested && StartsWith(text, "Process has crashed.") &&
      !g_nestedCrashDone.exchange(true)) {
    QolvCrashInHandler();
  }
  if (mode == Mode::kTwoThreads && StartsWith(text, "Current function has crashed")) g_phase.store(2);
  if (mode == Mode::kTwoThreads && StartsWith(text, "Process has crashed.")) {
    // The dump is written but the first crash is not finished: let the second thread crash now.
    g_phase.store(1);
    for (int i = 0; i < 3000 && g_phase.load() != 2; ++i) qolv::platform::SleepMs(10);
  }
}

// What was in place before the guard: a filter installed through the platform layer, or a C
// signal handler (which the Windows C runtime calls from its own unhandled-exception filter).
int32_t OuterFilter(qolv::platform::CrashContext*) {
  qolv::platform::WriteStandardError("outer filter\n");
  return 0;
}

extern "C" void OuterSignalHandler(int) {
  qolv::platform::WriteStandardError("outer signal handler\n");
  std::_Exit(7);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  qolv::platform::SetDebugOutputHook(CopyToStandardError);

  if (mode == "restore-filter" || mode == "restore-signal") {
    qolv::platform::PreviousCrashFilter outer;
    if (mode == "restore-filter") outer = qolv::platform::InstallCrashFilter(OuterFilter);
    if (mode == "restore-signal") std::signal(SIGSEGV, OuterSignalHandler);
    {
      qolv::CrashGuard guard;
      guard.Install();
    }
    QolvCrashHere();
    return 3;
  }

  qolv::CrashGuard guard;
  guard.Install();
  std::thread(QolvIdleWorker).detach();
  for (int i = 0; i < 3000 && !g_idleRunning.load(); ++i) qolv::platform::SleepMs(1);

  if (mode == "segv") QolvCrashHere();
  if (mode == "abort") QolvAbortHere();
  if (mode == "overflow") return QolvRecurse(0);
  if (mode == "worker-overflow") {
    qolv::TaskWorker workers;
    workers.Post(std::make_unique<QolvRecursingTask>());
    workers.Start();
    // The overflow ends the process long before this wait does.
    for (int i = 0; i < 6000; ++i) qolv::platform::SleepMs(10);
    return 3;
  }
  if (mode == "nested") {
    g_mode.store(Mode::kNested);
    QolvCrashHere();
  }
  if (mode == "two-threads") {
    g_mode.store(Mode::kTwoThreads);
    std::thread(QolvSecondThread).detach();
    QolvCrashHere();
  }
  return 3;
}

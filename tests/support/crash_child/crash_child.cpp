// A program that installs the crash guard and then crashes the way its first argument names.
// The crash tests run it as a child process in a folder of its own and examine what it leaves
// behind. Everything the guard sends to the debugger output is copied to standard error. A plain
// crash or a fatal end first says on standard error which thread ends and the tick count then;
// the line "dump written at tick N" follows the guard's report of the written dump.
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/engine_process_setup.h"
#include "net/fatal_error.h"
#include "net/heap_arena.h"
#include "net/tcp_server.h"
#include "net/tcp_server_listener.h"
#include "platform/clock.h"
#include "platform/crash_handler.h"
#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"
#include "platform/standard_error.h"
#include "request/task.h"
#include "request/task_worker.h"
#include "service/crash_guard.h"
#include "service/crash_text.h"
#include "support/seams/platform_seams.h"

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

// Says which thread is about to end the process, and when.
void AnnounceFatalEnd() {
  char line[96];
  std::snprintf(line, sizeof line, "fatal end on thread %u at tick %u\n", qolv::platform::CurrentThreadId(),
                qolv::platform::TickCount());
  qolv::platform::WriteStandardError(line);
}

[[gnu::noinline]] void QolvAbortHere() {
  AnnounceFatalEnd();
  std::abort();
}

// A task that throws, as a request handler meeting a failure nobody catches would.
class QolvThrowingTask : public qolv::Task {
 public:
  void Run() override {
    AnnounceFatalEnd();
    throw std::runtime_error("a task failed");
  }
};

// A task that uses up a bounded private heap, as a pool would under a flood.
class QolvHeapEatingTask : public qolv::Task {
 public:
  void Run() override {
    qolv::net::CHeapArena heap(1 << 20);
    AnnounceFatalEnd();
    for (int i = 0; i < 1000000; ++i) heap.Allocate(4096);
  }
};

// A listener whose accept event meets a broken invariant, on one of the engine's worker threads.
class QolvBrokenListener : public qolv::net::CTcpServerListener {
 public:
  using Result = qolv::net::EventResult;
  Result OnPrepareListen(qolv::net::ITcpServer*, qolv::platform::SocketHandle) override { return Result::Ok; }
  Result OnAccept(qolv::net::ITcpServer*, uint32_t, qolv::platform::SocketHandle) override {
    AnnounceFatalEnd();
    throw qolv::net::FatalError("a broken invariant on an engine thread");
  }
  Result OnReceive(qolv::net::ITcpServer*, uint32_t, const uint8_t*, int32_t) override { return Result::Ok; }
  Result OnReceive(qolv::net::ITcpServer*, uint32_t, int32_t) override { return Result::Ok; }
  Result OnClose(qolv::net::ITcpServer*, uint32_t, qolv::net::SocketOp, uint32_t) override { return Result::Ok; }
  Result OnShutdown(qolv::net::ITcpServer*) override { return Result::Ok; }
};

// Runs the tasks on the task workers; the first fatal end ends the process long before the wait does.
int RunOnTaskWorker(std::unique_ptr<qolv::Task> task) {
  qolv::TaskWorker workers;
  workers.Post(std::move(task));
  workers.Start();
  for (int i = 0; i < 6000; ++i) qolv::platform::SleepMs(10);
  return 3;
}

// Starts a server on a loopback port and connects to it, so that an engine thread accepts.
int ConnectToBrokenServer() {
  const qolv::net::CEngineProcessSetup setup;
  QolvBrokenListener listener;
  qolv::net::CTcpServer server(&listener);
  if (!server.Start("127.0.0.1", 0)) return 4;
  char address[64];
  int length = sizeof address;
  uint16_t port = 0;
  if (!server.GetListenAddress(address, length, port)) return 4;
  qolv::platform::SockAddr peer{};
  if (qolv::platform::TextToAddress("127.0.0.1", qolv::platform::kFamilyInet, peer) != 0) return 4;
  qolv::platform::SetAddressPort(peer, port);
  const qolv::platform::SocketHandle client = qolv::platform::CreateStreamSocket(qolv::platform::kFamilyInet);
  if (qolv::platform::ConnectBlocking(client, peer, 10000) != 0) return 4;
  for (int i = 0; i < 6000; ++i) qolv::platform::SleepMs(10);
  return 3;
}

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
  if (StartsWith(text, "Process has crashed.")) {
    char line[64];
    if (qolv::FormatCrashText(line, sizeof line, "dump written at tick %lu\n", {qolv::platform::TickCount()})) {
      qolv::platform::WriteStandardError(line);
    }
  }
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

  if (mode == "segv") {
    AnnounceFatalEnd();
    QolvCrashHere();
  }
  if (mode == "abort") QolvAbortHere();
  if (mode == "overflow") return QolvRecurse(0);
  if (mode == "worker-overflow") return RunOnTaskWorker(std::make_unique<QolvRecursingTask>());
  if (mode == "task-throws") return RunOnTaskWorker(std::make_unique<QolvThrowingTask>());
  if (mode == "heap-exhausted") return RunOnTaskWorker(std::make_unique<QolvHeapEatingTask>());
  if (mode == "engine-throws") return ConnectToBrokenServer();
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

#include "platform/posix/minidump/thread_parking.h"

#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace qolv::platform::posix {
namespace {

// A real-time signal near the top of the range, which libraries rarely take; Begin checks.
int RequestSignal() { return SIGRTMAX - 2; }

// A parked thread waits at most this long, so a writer that never releases (it crashed itself)
// does not hold the process forever.
constexpr int kParkLimitMs = 60000;

std::atomic<uint32_t> g_asked{0};     // the thread a request is out for; it clears this to claim it
std::atomic<uint32_t> g_answered{0};  // the thread whose registers g_registers holds
std::atomic<const ucontext_t*> g_registers{nullptr};
std::atomic<bool> g_released{true};

void Nap() {
  const timespec millisecond{0, 1000000};
  ::nanosleep(&millisecond, nullptr);
}

void OnRequest(int, siginfo_t* info, void* context) {
  if (info == nullptr || info->si_code != SI_TKILL || info->si_pid != ::getpid()) return;
  uint32_t self = static_cast<uint32_t>(::syscall(SYS_gettid));
  if (!g_asked.compare_exchange_strong(self, 0)) return;
  g_registers.store(static_cast<const ucontext_t*>(context));
  g_answered.store(self);
  for (int waited = 0; waited < kParkLimitMs && !g_released.load(); ++waited) Nap();
}

}  // namespace

bool ThreadParking::Begin() {
  struct sigaction current {};
  if (::sigaction(RequestSignal(), nullptr, &current) != 0) return false;
  const bool ours = (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == OnRequest;
  if (!ours && ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL)) return false;
  struct sigaction action {};
  action.sa_sigaction = OnRequest;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (::sigaction(RequestSignal(), &action, nullptr) != 0) return false;
  g_released.store(false);
  active_ = true;
  return true;
}

const ucontext_t* ThreadParking::Park(uint32_t threadId, uint32_t waitMs) {
  if (!active_) return nullptr;
  g_answered.store(0);
  g_registers.store(nullptr);
  g_asked.store(threadId);
  if (::syscall(SYS_tgkill, ::getpid(), threadId, RequestSignal()) != 0) {
    g_asked.store(0);
    return nullptr;
  }
  for (uint32_t waited = 0; waited <= waitMs; ++waited) {
    if (g_answered.load() == threadId) return g_registers.load();
    Nap();
  }
  // Withdraw the request; if the thread claimed it at this very moment, its answer is on the way.
  uint32_t expected = threadId;
  if (g_asked.compare_exchange_strong(expected, 0)) return nullptr;
  for (int waited = 0; waited < 1000; ++waited) {
    if (g_answered.load() == threadId) return g_registers.load();
    Nap();
  }
  return nullptr;
}

void ThreadParking::ReleaseAll() {
  g_released.store(true);
  active_ = false;
}

}  // namespace qolv::platform::posix

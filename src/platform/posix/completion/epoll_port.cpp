#include "platform/posix/completion/epoll_port.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/posix/completion/pending_io.h"
#include "platform/posix/completion/socket_table.h"
#include "platform/posix/deadline.h"
#include "platform/posix/errno_map.h"
#include "platform/system_error.h"

namespace qolv::platform::posix {
namespace {

// The eventfd's tag in epoll; no socket handle has all bits set.
constexpr uint64_t kWakeTag = ~uint64_t{0};
constexpr int kEventsPerPoll = 64;
// A leader that sleeps in epoll_wait has to be woken when the next socket gets ready, which on a
// virtual machine takes tens of microseconds and more processor time than polling for a while.
// So while the traffic comes in short gaps, the leader polls this long before it sleeps. A wait
// that found readiness within kShortGap counts as a short gap; a longer one ends the polling.
// Polling pays only while the sockets get ready one or two at a time: when a wait finds more,
// many clients are busy, a sleep's wake-up is shared by all their events and polling would burn
// the time in which the next ones gather.
constexpr auto kPollBeforeSleep = std::chrono::microseconds(50);
constexpr auto kShortGap = std::chrono::microseconds(100);
constexpr int kMostEventsToPoll = 2;

}  // namespace

EpollPort* EpollPort::Create() {
  const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) {
    SetSystemErrorFromErrno();
    return nullptr;
  }
  const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeTag;
  if (wakeFd < 0 || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &event) != 0) {
    SetSystemErrorFromErrno();
    if (wakeFd >= 0) ::close(wakeFd);
    ::close(epollFd);
    return nullptr;
  }
  return new EpollPort(epollFd, wakeFd);
}

EpollPort::~EpollPort() {
  ::close(wakeFd_);
  ::close(epollFd_);
}

void EpollPort::Release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

uint32_t EpollPort::Watch(int fd, SocketHandle handle) {
  // Edge-triggered: each Start function tries its operation at once, so a readiness edge only
  // has to serve operations that were pending when it arrived.
  epoll_event event{};
  event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  event.data.u64 = handle;
  if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) return SetSystemErrorFromErrno();
  return err::kSuccess;
}

void EpollPort::Unwatch(int fd) { ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr); }

void EpollPort::Complete(OpList& done) {
  std::lock_guard<std::mutex> lock(mutex_);
  PushLocked(done);
  WakeOneLocked(true);
}

bool EpollPort::Post(uint32_t bytes, uintptr_t key) {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.Push({nullptr, bytes, key});
    WakeOneLocked(true);
  } catch (const std::bad_alloc&) {
    SetSystemError(err::kNotEnoughMemory);
    return false;
  }
  return true;
}

void EpollPort::PushLocked(OpList& done) {
  while (Overlapped* op = done.Pop()) queue_.Push({op, 0, 0});
}

void EpollPort::WakeOneLocked(bool allowEventfd) {
  if (sleeping_ > wakeTokens_) {
    ++wakeTokens_;
    wakeup_.notify_one();
  } else if (allowEventfd && inEpollWait_ && !wakeWritten_) {
    const uint64_t one = 1;
    // The eventfd cannot overflow here: the leader drains it before another write is allowed.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    wakeWritten_ = true;
  }
}

uint32_t EpollPort::TakeLocked(Completion* completions, uint32_t capacity) {
  uint32_t taken = 0;
  while (taken < capacity && !queue_.Empty()) {
    const CompletionRing::Item item = queue_.Pop();
    if (item.op == nullptr) {
      completions[taken++] = Completion{true, item.bytes, item.key, nullptr, 0};
    } else {
      Overlapped* op = item.op;
      completions[taken++] = Completion{op->error == 0, op->bytes, op->key, op, op->error};
    }
  }
  // Whoever leaves passes the turn on: queued work or an empty leader seat wakes one sleeper.
  if (!queue_.Empty()) {
    WakeOneLocked(true);
  } else if (!leading_) {
    WakeOneLocked(false);
  }
  return taken;
}

int EpollPort::WaitForReadiness(epoll_event* events, int timeoutMs) {
  if (timeoutMs != 0 && shortGaps_) {
    const Clock::time_point until = Clock::now() + kPollBeforeSleep;
    int count = 0;
    do {
      count = ::epoll_wait(epollFd_, events, kEventsPerPoll, 0);
    } while (count == 0 && Clock::now() < until);
    if (count != 0) {
      shortGaps_ = count <= kMostEventsToPoll;
      return count;
    }
  }
  const Clock::time_point start = Clock::now();
  const int count = ::epoll_wait(epollFd_, events, kEventsPerPoll, timeoutMs);
  if (timeoutMs != 0) {
    shortGaps_ = count > 0 && count <= kMostEventsToPoll && Clock::now() - start < kShortGap;
  }
  return count;
}

bool EpollPort::PollOnce(int timeoutMs, OpList& done, bool& drainedWake) {
  epoll_event events[kEventsPerPoll];
  const int count = WaitForReadiness(events, timeoutMs);
  if (count < 0) {
    if (errno == EINTR) return true;
    SetSystemErrorFromErrno();
    return false;
  }
  for (int i = 0; i < count; ++i) {
    if (events[i].data.u64 == kWakeTag) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &value, sizeof value);
      drainedWake = true;
      continue;
    }
    // A stale event of a socket closed since (its descriptor perhaps reused) finds a newer
    // generation in the table and is dropped.
    LockedSocket socket(events[i].data.u64);
    if (!socket || socket.entry().port != this) continue;
    const uint32_t ready = events[i].events;
    SocketEntry& entry = socket.entry();
    if (ready & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) {
      entry.mayRead = true;
      if (ready & (EPOLLRDHUP | EPOLLERR | EPOLLHUP)) entry.readEnded = true;
      RunPending(entry, socket.fd(), entry.reads, done);
    }
    if (ready & (EPOLLOUT | EPOLLERR | EPOLLHUP)) RunPending(entry, socket.fd(), entry.writes, done);
  }
  return true;
}

bool EpollPort::Wait(Completion* completions, uint32_t capacity, uint32_t& count, uint32_t timeoutMs) {
  count = 0;
  const bool infinite = timeoutMs == kInfinite;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  bool polled = false;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!queue_.Empty()) {
      count = TakeLocked(completions, capacity);
      return true;
    }
    // Even a zero timeout polls once, so ready I/O is found without a waiting thread.
    if (!infinite && polled && Clock::now() >= deadline) break;
    if (!leading_) {
      leading_ = true;
      inEpollWait_ = true;
      lock.unlock();
      OpList done;
      bool drainedWake = false;
      const bool ok = PollOnce(infinite ? -1 : RemainingMs(deadline), done, drainedWake);
      const uint32_t pollError = ok ? 0 : GetSystemError();
      lock.lock();
      leading_ = false;
      inEpollWait_ = false;
      if (drainedWake) wakeWritten_ = false;
      PushLocked(done);
      polled = true;
      if (!ok) {
        WakeOneLocked(false);
        SetSystemError(pollError);
        return false;
      }
      continue;
    }
    if (!infinite && Clock::now() >= deadline) break;
    ++sleeping_;
    if (infinite) {
      wakeup_.wait(lock, [this] { return wakeTokens_ > 0; });
    } else {
      wakeup_.wait_until(lock, deadline, [this] { return wakeTokens_ > 0; });
    }
    --sleeping_;
    if (wakeTokens_ > 0) --wakeTokens_;
  }
  if (!leading_) WakeOneLocked(false);
  SetSystemError(err::kWaitTimeout);
  return false;
}

}  // namespace qolv::platform::posix

// The readiness poller over a level-triggered epoll set; the watch key travels in the event data.
#include "platform/readiness_poller.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/posix/completion/socket_table.h"
#include "platform/posix/errno_map.h"

namespace qolv::platform {

struct ReadinessPoller::State {
  int epollFd = -1;
  // The kernel's events land here before they are translated; it grows to the largest capacity
  // asked for and is then reused, so a wait allocates nothing.
  std::vector<epoll_event> native;
};

namespace {

using posix::ReportError;

bool ValidInterest(uint32_t interest) {
  return interest != 0 && (interest & ~(kWatchReadable | kWatchWritable)) == 0;
}

uint32_t Control(int epollFd, int operation, SocketHandle socket, uint32_t key, uint32_t interest) {
  if (epollFd < 0) return ReportError(err::kInvalidHandle);
  if (operation != EPOLL_CTL_DEL && !ValidInterest(interest)) return ReportError(err::kInvalidParameter);
  // The lock keeps the descriptor from being closed and reused while it is handed to epoll.
  posix::LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  epoll_event watch{};
  watch.events =
      ((interest & kWatchReadable) != 0 ? EPOLLIN : 0u) | ((interest & kWatchWritable) != 0 ? EPOLLOUT : 0u);
  watch.data.u32 = key;
  if (::epoll_ctl(epollFd, operation, locked.fd(), &watch) == 0) return ReportError(err::kSuccess);
  if (errno == ENOENT) return ReportError(err::kObjectNotFound);
  return posix::SetSystemErrorFromErrno();  // EEXIST becomes 183
}

}  // namespace

ReadinessPoller::ReadinessPoller() = default;

ReadinessPoller::~ReadinessPoller() { Close(); }

bool ReadinessPoller::Open() {
  Close();
  const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  state_ = std::make_unique<State>();
  state_->epollFd = epollFd;
  return true;
}

void ReadinessPoller::Close() {
  if (state_ == nullptr) return;
  ::close(state_->epollFd);
  state_.reset();
}

bool ReadinessPoller::IsOpen() const { return state_ != nullptr; }

uint32_t ReadinessPoller::Watch(SocketHandle socket, uint32_t key, uint32_t interest) {
  return Control(state_ ? state_->epollFd : -1, EPOLL_CTL_ADD, socket, key, interest);
}

uint32_t ReadinessPoller::Change(SocketHandle socket, uint32_t key, uint32_t interest) {
  return Control(state_ ? state_->epollFd : -1, EPOLL_CTL_MOD, socket, key, interest);
}

uint32_t ReadinessPoller::Forget(SocketHandle socket) {
  return Control(state_ ? state_->epollFd : -1, EPOLL_CTL_DEL, socket, 0, 0);
}

uint32_t ReadinessPoller::Wait(uint32_t timeoutMs, ReadinessEvent* events, uint32_t capacity,
                               uint32_t* count) {
  *count = 0;
  if (state_ == nullptr) return ReportError(err::kInvalidHandle);
  if (capacity == 0) return ReportError(err::kInvalidParameter);
  const int batch = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  if (state_->native.size() < static_cast<size_t>(batch)) state_->native.resize(batch);
  const int timeout = timeoutMs == kInfinite ? -1
                      : timeoutMs > INT_MAX  ? INT_MAX
                                             : static_cast<int>(timeoutMs);
  const int ready = ::epoll_wait(state_->epollFd, state_->native.data(), batch, timeout);
  if (ready < 0) return errno == EINTR ? ReportError(err::kSuccess) : posix::SetSystemErrorFromErrno();
  for (int i = 0; i < ready; ++i) {
    const epoll_event& native = state_->native[i];
    ReadinessEvent& event = events[i];
    event.key = native.data.u32;
    event.readable = (native.events & EPOLLIN) != 0;
    event.writable = (native.events & EPOLLOUT) != 0;
    event.failed = (native.events & (EPOLLERR | EPOLLHUP)) != 0;
  }
  *count = static_cast<uint32_t>(ready);
  return ReportError(err::kSuccess);
}

}  // namespace qolv::platform

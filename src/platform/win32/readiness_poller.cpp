// The readiness poller over WSAPoll: an array of watched sockets, their keys beside it, and a map
// from socket to place, so that a change or a forget does not search the array.
#include "platform/readiness_poller.h"

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <climits>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/win32/socket_error.h"

namespace qolv::platform {

struct ReadinessPoller::State {
  std::vector<WSAPOLLFD> watched;
  std::vector<uint32_t> keys;  // keys[i] belongs to watched[i]
  std::unordered_map<SOCKET, size_t> places;
  size_t scanFrom = 0;  // where the next wait starts to collect, so that no socket is starved
};

namespace {

using win32::ReportError;
using win32::ReportSocketError;

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

bool ValidInterest(uint32_t interest) {
  return interest != 0 && (interest & ~(kWatchReadable | kWatchWritable)) == 0;
}

SHORT PollEvents(uint32_t interest) {
  return static_cast<SHORT>(((interest & kWatchReadable) != 0 ? POLLRDNORM : 0) |
                            ((interest & kWatchWritable) != 0 ? POLLWRNORM : 0));
}

// WSAPoll fails as a whole for one handle that is no socket, so each is checked as it comes.
bool IsSocket(SocketHandle socket) {
  int type = 0;
  int size = sizeof type;
  return socket != kInvalidSocket &&
         ::getsockopt(Native(socket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0;
}

}  // namespace

ReadinessPoller::ReadinessPoller() = default;

ReadinessPoller::~ReadinessPoller() = default;

bool ReadinessPoller::Open() {
  state_ = std::make_unique<State>();
  return true;
}

void ReadinessPoller::Close() { state_.reset(); }

bool ReadinessPoller::IsOpen() const { return state_ != nullptr; }

uint32_t ReadinessPoller::Watch(SocketHandle socket, uint32_t key, uint32_t interest) {
  if (state_ == nullptr) return ReportError(err::kInvalidHandle);
  if (!ValidInterest(interest)) return ReportError(err::kInvalidParameter);
  if (!IsSocket(socket)) return ReportError(err::kWsaNotSocket);
  if (state_->places.count(Native(socket)) != 0) return ReportError(err::kAlreadyExists);
  state_->places.emplace(Native(socket), state_->watched.size());
  state_->watched.push_back(WSAPOLLFD{Native(socket), PollEvents(interest), 0});
  state_->keys.push_back(key);
  return ReportError(err::kSuccess);
}

uint32_t ReadinessPoller::Change(SocketHandle socket, uint32_t key, uint32_t interest) {
  if (state_ == nullptr) return ReportError(err::kInvalidHandle);
  if (!ValidInterest(interest)) return ReportError(err::kInvalidParameter);
  const auto found = state_->places.find(Native(socket));
  if (found == state_->places.end()) return ReportError(err::kObjectNotFound);
  state_->watched[found->second].events = PollEvents(interest);
  state_->keys[found->second] = key;
  return ReportError(err::kSuccess);
}

uint32_t ReadinessPoller::Forget(SocketHandle socket) {
  if (state_ == nullptr) return ReportError(err::kInvalidHandle);
  const auto found = state_->places.find(Native(socket));
  if (found == state_->places.end()) return ReportError(err::kObjectNotFound);
  // The last entry moves into the freed place, so the array stays without holes.
  const size_t place = found->second;
  const size_t last = state_->watched.size() - 1;
  state_->places.erase(found);
  if (place != last) {
    state_->watched[place] = state_->watched[last];
    state_->keys[place] = state_->keys[last];
    state_->places[state_->watched[place].fd] = place;
  }
  state_->watched.pop_back();
  state_->keys.pop_back();
  return ReportError(err::kSuccess);
}

uint32_t ReadinessPoller::Wait(uint32_t timeoutMs, ReadinessEvent* events, uint32_t capacity,
                               uint32_t* count) {
  *count = 0;
  if (state_ == nullptr) return ReportError(err::kInvalidHandle);
  if (capacity == 0) return ReportError(err::kInvalidParameter);
  std::vector<WSAPOLLFD>& watched = state_->watched;
  // WSAPoll refuses an empty array; with nothing to watch the wait only lets the time pass.
  if (watched.empty()) {
    ::Sleep(timeoutMs == kInfinite ? INFINITE : timeoutMs);
    return ReportError(err::kSuccess);
  }
  const INT timeout = timeoutMs == kInfinite ? -1
                      : timeoutMs > INT_MAX  ? INT_MAX
                                             : static_cast<INT>(timeoutMs);
  const int ready = ::WSAPoll(watched.data(), static_cast<ULONG>(watched.size()), timeout);
  if (ready < 0) return ReportSocketError();
  const size_t size = watched.size();
  const size_t start = state_->scanFrom < size ? state_->scanFrom : 0;
  uint32_t taken = 0;
  for (size_t step = 0; step < size && taken < capacity; ++step) {
    const size_t place = (start + step) % size;
    const SHORT revents = watched[place].revents;
    if (revents == 0) continue;
    ReadinessEvent& event = events[taken++];
    event.key = state_->keys[place];
    event.readable = (revents & (POLLRDNORM | POLLRDBAND)) != 0;
    event.writable = (revents & POLLWRNORM) != 0;
    event.failed = (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    state_->scanFrom = place + 1;
  }
  *count = taken;
  return ReportError(err::kSuccess);
}

}  // namespace qolv::platform

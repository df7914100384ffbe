#include "platform/completion_port.h"

#include "platform/completion_port_detail.h"
#include "platform/error_codes.h"
#include "platform/posix/completion/epoll_port.h"
#include "platform/posix/completion/socket_table.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

posix::EpollPort* PortOf(void* impl) { return static_cast<posix::EpollPort*>(impl); }

}  // namespace

void* detail::CreatePortState() { return posix::EpollPort::Create(); }

// Sockets still associated keep the port's state alive until they are closed; their later
// completions are dropped, as on Windows.
void CompletionPort::Close() {
  if (impl_ == nullptr) return;
  PortOf(impl_)->Release();
  impl_ = nullptr;
}

bool CompletionPort::Associate(SocketHandle socket, uintptr_t key) {
  if (impl_ == nullptr) {
    SetSystemError(err::kInvalidHandle);
    return false;
  }
  posix::LockedSocket locked(socket);
  if (!locked) {
    SetSystemError(err::kWsaNotSocket);
    return false;
  }
  posix::SocketEntry& entry = locked.entry();
  // A handle belongs to one port for life, as on Windows.
  if (entry.port != nullptr) {
    SetSystemError(err::kInvalidParameter);
    return false;
  }
  posix::EpollPort* port = PortOf(impl_);
  if (port->Watch(locked.fd(), socket) != err::kSuccess) return false;
  port->AddRef();
  entry.port = port;
  entry.key = key;
  return true;
}

bool CompletionPort::Post(uint32_t bytes, uintptr_t key) {
  if (impl_ == nullptr) {
    SetSystemError(err::kInvalidHandle);
    return false;
  }
  return PortOf(impl_)->Post(bytes, key);
}

bool CompletionPort::Wait(Completion& completion, uint32_t timeoutMs) {
  uint32_t count = 0;
  return WaitMany(&completion, 1, count, timeoutMs);
}

bool CompletionPort::WaitMany(Completion* completions, uint32_t capacity, uint32_t& count, uint32_t timeoutMs) {
  count = 0;
  if (impl_ == nullptr || capacity == 0) {
    SetSystemError(impl_ == nullptr ? err::kInvalidHandle : err::kInvalidParameter);
    return false;
  }
  return PortOf(impl_)->Wait(completions, capacity < kMostPerWait ? capacity : kMostPerWait, count, timeoutMs);
}

}  // namespace qolv::platform

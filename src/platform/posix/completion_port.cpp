#include "platform/completion_port.h"

#include "platform/error_codes.h"
#include "platform/posix/epoll_port.h"
#include "platform/posix/socket_table.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

posix::EpollPort* PortOf(void* impl) { return static_cast<posix::EpollPort*>(impl); }

}  // namespace

CompletionPort::~CompletionPort() { Close(); }

bool CompletionPort::Open() {
  if (impl_ != nullptr) {
    SetSystemError(err::kInvalidState);
    return false;
  }
  impl_ = posix::EpollPort::Create();
  return impl_ != nullptr;
}

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
  if (impl_ == nullptr) {
    SetSystemError(err::kInvalidHandle);
    return false;
  }
  return PortOf(impl_)->Wait(completion, timeoutMs);
}

}  // namespace qolv::platform

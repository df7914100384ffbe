// Socket creation, closing, options and the listen set-up.
#include "platform/socket_io.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix/completion/epoll_port.h"
#include "platform/posix/completion/pending_io.h"
#include "platform/posix/completion/socket_table.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/native_address.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

using posix::LockedSocket;
using posix::ReportError;

uint32_t SetIntOption(SocketHandle socket, int level, int name, int value) {
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  if (::setsockopt(locked.fd(), level, name, &value, sizeof value) != 0)
    return posix::SetSystemErrorFromErrno();
  return ReportError(err::kSuccess);
}

// Keep-alive times are whole seconds on Linux; round up so a time is never shortened.
int KeepAliveSeconds(uint32_t milliseconds) {
  constexpr uint32_t kLargestSeconds = 32767;  // the kernel's limit for both values
  uint32_t seconds = milliseconds / 1000 + (milliseconds % 1000 != 0 ? 1 : 0);
  if (seconds == 0) seconds = 1;
  if (seconds > kLargestSeconds) seconds = kLargestSeconds;
  return static_cast<int>(seconds);
}

// Linux has no accept extension functions to look up: accept is built into the port, so the
// lookup always yields this token.
char g_builtInAccept;

}  // namespace

bool StartSocketLibrary() {
  // The engine may hold tens of thousands of sockets; the soft limit is often only 1024.
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  return true;
}

void StopSocketLibrary() {}

SocketHandle CreateStreamSocket(uint16_t family) {
  int nativeFamily = 0;
  if (family == kFamilyInet) {
    nativeFamily = AF_INET;
  } else if (family == kFamilyInet6) {
    nativeFamily = AF_INET6;
  } else {
    ReportError(err::kWsaFamilyNotSupported);
    return kInvalidSocket;
  }
  // Every socket is non-blocking: the port's operations must never wait inside a system call.
  const int fd = ::socket(nativeFamily, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    posix::SetSystemErrorFromErrno();
    return kInvalidSocket;
  }
  const SocketHandle handle = posix::SocketTable::Register(fd);
  if (handle == kInvalidSocket) ::close(fd);
  return handle;
}

void CloseSocket(SocketHandle socket) {
  LockedSocket locked(socket);
  if (!locked) {
    ReportError(err::kWsaNotSocket);
    return;
  }
  posix::SocketEntry& entry = locked.entry();
  posix::EpollPort* port = entry.port;
  if (port != nullptr) {
    port->Unwatch(locked.fd());
    posix::OpList aborted;
    posix::FinishAllPending(entry, err::kOperationAborted, aborted);
    port->Complete(aborted);
  }
  entry.port = nullptr;
  entry.key = 0;
  entry.open = false;
  // The new generation is in place before the kernel can hand the descriptor number out again.
  ++entry.generation;
  ::close(locked.fd());
  if (port != nullptr) port->Release();
}

uint32_t ShutdownSocket(SocketHandle socket, int how) {
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  // The Windows values 0, 1 and 2 are SHUT_RD, SHUT_WR and SHUT_RDWR.
  if (::shutdown(locked.fd(), how) != 0) return posix::SetSystemErrorFromErrno();
  // A receive side shut down reads its end at once, whatever an earlier read found.
  if (how != 1) {
    locked.entry().mayRead = true;
    locked.entry().readEnded = true;
  }
  return ReportError(err::kSuccess);
}

void CancelSocketIo(SocketHandle socket) {
  LockedSocket locked(socket);
  if (!locked) {
    ReportError(err::kWsaNotSocket);
    return;
  }
  posix::SocketEntry& entry = locked.entry();
  if (entry.port == nullptr) return;
  posix::OpList aborted;
  posix::FinishAllPending(entry, err::kOperationAborted, aborted);
  entry.port->Complete(aborted);
}

uint32_t BindSocket(SocketHandle socket, const SockAddr& address) {
  const posix::NativeAddress native(address);
  if (native.length == 0) return ReportError(err::kWsaFamilyNotSupported);
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  if (::bind(locked.fd(), native.get(), native.length) != 0) {
    return posix::SetSystemErrorFromErrno();
  }
  return ReportError(err::kSuccess);
}

uint32_t ListenSocket(SocketHandle socket, int backlog) {
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  if (::listen(locked.fd(), backlog) != 0) return posix::SetSystemErrorFromErrno();
  return ReportError(err::kSuccess);
}

uint32_t LocalAddress(SocketHandle socket, SockAddr& address) {
  std::memset(address.bytes, 0, sizeof address.bytes);
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  sockaddr_storage native{};
  socklen_t length = sizeof native;
  if (::getsockname(locked.fd(), reinterpret_cast<sockaddr*>(&native), &length) != 0) {
    return posix::SetSystemErrorFromErrno();
  }
  std::memcpy(address.bytes, &native, length < sizeof address.bytes ? length : sizeof address.bytes);
  return ReportError(err::kSuccess);
}

uint32_t SetKeepAlive(SocketHandle socket, bool on, uint32_t timeMs, uint32_t intervalMs) {
  if (const uint32_t error = SetIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0)) return error;
  if (!on) return err::kSuccess;
  if (const uint32_t error = SetIntOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveSeconds(timeMs))) {
    return error;
  }
  return SetIntOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveSeconds(intervalMs));
}

// The Windows address options, mapped to Linux options with the same effect:
//  - neither option (the Windows default) binds over TIME_WAIT leftovers but not over a socket
//    that is bound or listening: Linux SO_REUSEADDR=1;
//  - exclusive use refuses the port while any other socket or TIME_WAIT leftover holds it:
//    SO_REUSEADDR=0 and SO_REUSEPORT=0;
//  - address reuse lets another socket bind the very same port: SO_REUSEADDR=1 and SO_REUSEPORT=1.
// The two are set one after the other (exclusive use first), so turning reuse off leaves
// SO_REUSEADDR as exclusive use chose it.
uint32_t SetExclusiveAddressUse(SocketHandle socket, bool on) {
  if (const uint32_t error = SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, on ? 0 : 1)) return error;
  return on ? SetIntOption(socket, SOL_SOCKET, SO_REUSEPORT, 0) : err::kSuccess;
}

uint32_t SetReuseAddress(SocketHandle socket, bool on) {
  if (on) {
    if (const uint32_t error = SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, 1)) return error;
  }
  return SetIntOption(socket, SOL_SOCKET, SO_REUSEPORT, on ? 1 : 0);
}

uint32_t SetNoDelay(SocketHandle socket, bool on) {
  return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

// Sockets of this layer are non-blocking from their creation; this confirms the handle.
uint32_t SetNonBlocking(SocketHandle socket) {
  LockedSocket locked(socket);
  return ReportError(locked ? err::kSuccess : err::kWsaNotSocket);
}

uint32_t SetLingerAbort(SocketHandle socket) {
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  const linger abort{1, 0};
  if (::setsockopt(locked.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort) != 0) {
    return posix::SetSystemErrorFromErrno();
  }
  return ReportError(err::kSuccess);
}

int32_t SendBufferSize(SocketHandle socket) {
  LockedSocket locked(socket);
  if (!locked) return 0;
  int size = 0;
  socklen_t length = sizeof size;
  if (::getsockopt(locked.fd(), SOL_SOCKET, SO_SNDBUF, &size, &length) != 0) return 0;
  return size;
}

AcceptFunctions LookupAcceptFunctions(SocketHandle) { return {&g_builtInAccept, &g_builtInAccept}; }

uint32_t AcceptAddressAreaSize(uint16_t family) { return 2 * posix::AcceptAddressSlotSize(family); }

void ReadAcceptAddresses(const AcceptFunctions&, const char* addressArea, uint16_t family, SockAddr& local,
                         SockAddr& remote) {
  std::memset(local.bytes, 0, sizeof local.bytes);
  std::memset(remote.bytes, 0, sizeof remote.bytes);
  const uint32_t length = AddressLength(family);
  std::memcpy(local.bytes, addressArea, length);
  std::memcpy(remote.bytes, addressArea + posix::AcceptAddressSlotSize(family), length);
}

// An accepted Linux socket is complete as it comes from the kernel; only the handle is checked.
uint32_t UpdateAcceptContext(SocketHandle accepted, SocketHandle) {
  LockedSocket locked(accepted);
  return ReportError(locked ? err::kSuccess : err::kWsaNotSocket);
}

}  // namespace qolv::platform

// The non-blocking client calls of socket_io.h, and the readiness wait of the blocking ones.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/error_codes.h"
#include "platform/posix/completion/socket_table.h"
#include "platform/posix/deadline.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/native_address.h"
#include "platform/socket_client_detail.h"
#include "platform/socket_io.h"

namespace qolv::platform {

using posix::LockedSocket;
using posix::ReportError;

// The descriptor is only watched here; every call that uses it takes the socket's lock and so
// notices a socket closed meanwhile.
uint32_t detail::WaitSocketReady(SocketHandle socket, SocketWait wait, posix::Clock::time_point deadline) {
  const short events = wait == SocketWait::kReadable ? POLLIN : POLLOUT;
  pollfd watched{posix::HandleDescriptor(socket), events, 0};
  for (;;) {
    const int ready = ::poll(&watched, 1, posix::RemainingMs(deadline));
    if (ready > 0) return err::kSuccess;
    if (ready == 0) return ReportError(err::kWsaTimedOut);
    if (errno != EINTR) return posix::SetSystemErrorFromErrno();
  }
}

uint32_t BeginConnect(SocketHandle socket, const SockAddr& address) {
  const posix::NativeAddress native(address);
  if (native.length == 0) return ReportError(err::kWsaFamilyNotSupported);
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  if (::connect(locked.fd(), native.get(), native.length) == 0) {
    return ReportError(err::kSuccess);
  }
  if (errno == EINPROGRESS || errno == EINTR) return ReportError(err::kWsaWouldBlock);
  return posix::SetSystemErrorFromErrno();
}

uint32_t ConnectOutcome(SocketHandle socket) {
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(locked.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    return posix::SetSystemErrorFromErrno();
  }
  return ReportError(posix::FromErrno(error));
}

uint32_t SendNow(SocketHandle socket, const char* data, uint32_t length, uint32_t* sent) {
  *sent = 0;
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  for (;;) {
    const ssize_t count = ::send(locked.fd(), data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (count >= 0) {
      *sent = static_cast<uint32_t>(count);
      return ReportError(err::kSuccess);
    }
    if (errno != EINTR) return posix::SetSystemErrorFromErrno();
  }
}

}  // namespace qolv::platform

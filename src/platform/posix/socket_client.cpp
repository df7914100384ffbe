#include "platform/socket_client.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/posix/deadline.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/socket_table.h"
#include "platform/socket_io.h"

namespace qolv::platform {
namespace {

using posix::LockedSocket;
using posix::ReportError;

// Waits until the socket is ready for the events. The descriptor is only watched here; every
// call that uses it takes the socket's lock and so notices a socket closed meanwhile.
uint32_t WaitReady(SocketHandle socket, short events, posix::Clock::time_point deadline) {
  pollfd watched{posix::HandleDescriptor(socket), events, 0};
  for (;;) {
    const int ready = ::poll(&watched, 1, posix::RemainingMs(deadline));
    if (ready > 0) return err::kSuccess;
    if (ready == 0) return ReportError(err::kWsaTimedOut);
    if (errno != EINTR) return posix::SetSystemErrorFromErrno();
  }
}

posix::Clock::time_point DeadlineAfter(uint32_t timeoutMs) {
  return posix::Clock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

uint32_t BeginConnect(SocketHandle socket, const SockAddr& address) {
  const uint32_t length = AddressLength(AddressFamily(address));
  if (length == 0) return ReportError(err::kWsaFamilyNotSupported);
  LockedSocket locked(socket);
  if (!locked) return ReportError(err::kWsaNotSocket);
  sockaddr_storage native{};
  std::memcpy(&native, address.bytes, length);
  if (::connect(locked.fd(), reinterpret_cast<const sockaddr*>(&native), length) == 0) {
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

uint32_t ConnectBlocking(SocketHandle socket, const SockAddr& address, uint32_t timeoutMs) {
  const uint32_t started = BeginConnect(socket, address);
  if (started != err::kWsaWouldBlock) return started;
  if (const uint32_t error = WaitReady(socket, POLLOUT, DeadlineAfter(timeoutMs))) return error;
  return ConnectOutcome(socket);
}

uint32_t SendBlocking(SocketHandle socket, const char* data, uint32_t length, uint32_t timeoutMs) {
  const posix::Clock::time_point deadline = DeadlineAfter(timeoutMs);
  uint32_t done = 0;
  while (done < length) {
    uint32_t sent = 0;
    const uint32_t error = SendNow(socket, data + done, length - done, &sent);
    if (error == err::kWsaWouldBlock) {
      if (const uint32_t waitError = WaitReady(socket, POLLOUT, deadline)) return waitError;
    } else if (error != err::kSuccess) {
      return error;
    }
    done += sent;
  }
  return ReportError(err::kSuccess);
}

uint32_t ReceiveBlocking(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received,
                         uint32_t timeoutMs) {
  const posix::Clock::time_point deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    const uint32_t error = ReceiveNow(socket, buffer, length, received);
    if (error != err::kWsaWouldBlock) return error;
    if (const uint32_t waitError = WaitReady(socket, POLLIN, deadline)) return waitError;
  }
}

}  // namespace qolv::platform

// The non-blocking client calls of socket_io.h, and the readiness wait of the blocking ones.

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <chrono>
#include <climits>

#include "platform/error_codes.h"
#include "platform/socket_client_detail.h"
#include "platform/socket_io.h"
#include "platform/win32/socket_error.h"

namespace qolv::platform {
namespace {

using win32::ReportError;
using win32::ReportSocketError;
using Clock = std::chrono::steady_clock;

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

}  // namespace

uint32_t detail::WaitSocketReady(SocketHandle socket, SocketWait wait, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
  timeval timeout{};
  if (left > 0) {
    timeout.tv_sec = static_cast<long>(left / 1000000);
    timeout.tv_usec = static_cast<long>(left % 1000000);
  }
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &wanted);
  FD_SET(Native(socket), &failed);
  const int ready = wait == SocketWait::kReadable ? ::select(0, &wanted, nullptr, nullptr, &timeout)
                                                  : ::select(0, nullptr, &wanted, &failed, &timeout);
  if (ready > 0) return ReportError(err::kSuccess);
  if (ready == 0) return ReportError(err::kWsaTimedOut);
  return ReportSocketError();
}

uint32_t BeginConnect(SocketHandle socket, const SockAddr& address) {
  const int length = static_cast<int>(AddressLength(AddressFamily(address)));
  if (length == 0) return ReportError(err::kWsaFamilyNotSupported);
  if (::connect(Native(socket), reinterpret_cast<const sockaddr*>(address.bytes), length) == 0) {
    return ReportError(err::kSuccess);
  }
  return ReportSocketError();  // 10035 while a connect of a non-blocking socket is under way
}

uint32_t ConnectOutcome(SocketHandle socket) {
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
    return ReportSocketError();
  }
  return ReportError(static_cast<uint32_t>(error));
}

uint32_t SendNow(SocketHandle socket, const char* data, uint32_t length, uint32_t* sent) {
  *sent = 0;
  // Winsock takes an int length; a longer buffer goes out in more than one call.
  const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  const int count = ::send(Native(socket), data, chunk, 0);
  if (count < 0) return ReportSocketError();
  *sent = static_cast<uint32_t>(count);
  return ReportError(err::kSuccess);
}

}  // namespace qolv::platform

// The operations that complete through a port: AcceptEx, WSARecv and WSASend with an
// overlapped record, plus the immediate receive and the read-back of an outcome.

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>
// clang-format on

#include <cstring>

#include "platform/error_codes.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"
#include "platform/win32/socket_error.h"

namespace qolv::platform {
namespace {

using win32::ReportError;
using win32::ReportSocketError;

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// A record is reused for many operations; Windows wants it cleared before each one.
OVERLAPPED* Fresh(Overlapped* overlapped) {
  std::memset(overlapped, 0, sizeof *overlapped);
  return reinterpret_cast<OVERLAPPED*>(overlapped);
}

// The outcome of a WSARecv or WSASend: a pending operation counts as started.
uint32_t Started(int result) {
  if (result == 0) return ReportError(err::kSuccess);
  const uint32_t error = static_cast<uint32_t>(::WSAGetLastError());
  return ReportError(error == WSA_IO_PENDING ? err::kIoPending : error);
}

}  // namespace

uint32_t StartAccept(const AcceptFunctions& functions, SocketHandle listenSocket, uint16_t family,
                     Overlapped* overlapped, char* addressArea, SocketHandle* acceptSlot) {
  *acceptSlot = kInvalidSocket;
  if (functions.accept == nullptr) return ReportError(err::kWsaInvalidArgument);
  const SocketHandle accepted = CreateStreamSocket(family);
  if (accepted == kInvalidSocket) return GetSystemError();
  const DWORD slot = AddressLength(family) + 16;
  DWORD received = 0;
  const BOOL done = reinterpret_cast<LPFN_ACCEPTEX>(functions.accept)(
      Native(listenSocket), Native(accepted), addressArea, 0, slot, slot, &received, Fresh(overlapped));
  if (!done) {
    const uint32_t error = static_cast<uint32_t>(::WSAGetLastError());
    if (error != WSA_IO_PENDING) {
      ::closesocket(Native(accepted));
      return ReportError(error);
    }
  }
  *acceptSlot = accepted;
  return ReportError(err::kSuccess);
}

uint32_t StartReceive(SocketHandle socket, char* buffer, uint32_t length, Overlapped* overlapped) {
  // Refused as on Linux, where a receive of nothing could not be told from the peer's close.
  if (length == 0) return ReportError(err::kWsaInvalidArgument);
  WSABUF data{length, buffer};
  DWORD flags = 0;
  const uint32_t result =
      Started(::WSARecv(Native(socket), &data, 1, nullptr, &flags, Fresh(overlapped), nullptr));
  return result == err::kIoPending ? ReportError(err::kSuccess) : result;
}

uint32_t StartSend(SocketHandle socket, const char* buffer, uint32_t length, Overlapped* overlapped) {
  WSABUF data{length, const_cast<char*>(buffer)};
  return Started(::WSASend(Native(socket), &data, 1, nullptr, 0, Fresh(overlapped), nullptr));
}

uint32_t ReceiveNow(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received) {
  *received = 0;
  WSABUF data{length, buffer};
  DWORD count = 0;
  DWORD flags = 0;
  if (::WSARecv(Native(socket), &data, 1, &count, &flags, nullptr, nullptr) != 0) return ReportSocketError();
  *received = count;
  return ReportError(err::kSuccess);
}

uint32_t OverlappedResult(SocketHandle socket, Overlapped* overlapped, uint32_t* bytes) {
  DWORD count = 0;
  DWORD flags = 0;
  const BOOL ok = ::WSAGetOverlappedResult(Native(socket), reinterpret_cast<OVERLAPPED*>(overlapped), &count,
                                           FALSE, &flags);
  *bytes = count;
  if (!ok) return ReportSocketError();
  return ReportError(err::kSuccess);
}

}  // namespace qolv::platform

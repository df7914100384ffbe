// Socket creation, closing, options and the listen set-up over Windows Sockets 2.
#include "platform/socket_io.h"

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>
#include <mswsock.h>
#include <ws2tcpip.h>
// clang-format on

#include <cstring>

#include "platform/error_codes.h"
#include "platform/system_error.h"
#include "platform/win32/socket_error.h"

namespace qolv::platform {
namespace {

using win32::ReportError;
using win32::ReportSocketError;

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

uint32_t SetIntOption(SocketHandle socket, int level, int name, int value) {
  if (::setsockopt(Native(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value) != 0) {
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

void* LookupExtension(SocketHandle socket, GUID id) {
  void* function = nullptr;
  DWORD returned = 0;
  ::WSAIoctl(Native(socket), SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
             &returned, nullptr, nullptr);
  return function;
}

bool g_started = false;

}  // namespace

bool StartSocketLibrary() {
  WSADATA data{};
  const int result = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (result != 0) {
    ReportError(static_cast<uint32_t>(result));
    return false;
  }
  g_started = true;
  return true;
}

void StopSocketLibrary() {
  if (g_started) ::WSACleanup();
}

SocketHandle CreateStreamSocket(uint16_t family) {
  const SOCKET socket = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (socket == INVALID_SOCKET) {
    ReportSocketError();
    return kInvalidSocket;
  }
  // Non-blocking from the start, as on Linux: a receive without a record must never wait.
  u_long on = 1;
  if (::ioctlsocket(socket, FIONBIO, &on) != 0) {
    ReportSocketError();
    ::closesocket(socket);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(socket);
}

void CloseSocket(SocketHandle socket) {
  // INVALID_SOCKET has the value of the process's own pseudo handle; it must not reach CancelIoEx.
  if (socket == kInvalidSocket) {
    ReportError(err::kWsaNotSocket);
    return;
  }
  // Cancelling first completes a send stuck on a peer that does not read, so the close never
  // waits for that peer.
  ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
  if (::closesocket(Native(socket)) != 0) ReportSocketError();
}

uint32_t ShutdownSocket(SocketHandle socket, int how) {
  if (::shutdown(Native(socket), how) != 0) return ReportSocketError();
  return ReportError(err::kSuccess);
}

void CancelSocketIo(SocketHandle socket) { ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr); }

uint32_t BindSocket(SocketHandle socket, const SockAddr& address) {
  const int length = static_cast<int>(AddressLength(AddressFamily(address)));
  if (length == 0) return ReportError(err::kWsaFamilyNotSupported);
  if (::bind(Native(socket), reinterpret_cast<const sockaddr*>(address.bytes), length) != 0) {
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

uint32_t ListenSocket(SocketHandle socket, int backlog) {
  if (::listen(Native(socket), backlog) != 0) return ReportSocketError();
  return ReportError(err::kSuccess);
}

uint32_t LocalAddress(SocketHandle socket, SockAddr& address) {
  std::memset(address.bytes, 0, sizeof address.bytes);
  int length = sizeof address.bytes;
  if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(address.bytes), &length) != 0) {
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

uint32_t SetKeepAlive(SocketHandle socket, bool on, uint32_t timeMs, uint32_t intervalMs) {
  tcp_keepalive values{};
  values.onoff = on ? 1 : 0;
  values.keepalivetime = timeMs;
  values.keepaliveinterval = intervalMs;
  DWORD returned = 0;
  if (::WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                 nullptr) != 0) {
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

uint32_t SetExclusiveAddressUse(SocketHandle socket, bool on) {
  return SetIntOption(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, on ? 1 : 0);
}

uint32_t SetReuseAddress(SocketHandle socket, bool on) {
  return SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

uint32_t SetNoDelay(SocketHandle socket, bool on) {
  return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

uint32_t SetNonBlocking(SocketHandle socket) {
  u_long on = 1;
  if (::ioctlsocket(Native(socket), FIONBIO, &on) != 0) return ReportSocketError();
  return ReportError(err::kSuccess);
}

uint32_t SetLingerAbort(SocketHandle socket) {
  const linger abort{1, 0};
  if (::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort) != 0) {
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

int32_t SendBufferSize(SocketHandle socket) {
  int size = 0;
  int length = sizeof size;
  if (::getsockopt(Native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &length) != 0)
    return 0;
  return size;
}

AcceptFunctions LookupAcceptFunctions(SocketHandle listenSocket) {
  const GUID acceptId = WSAID_ACCEPTEX;
  const GUID addressesId = WSAID_GETACCEPTEXSOCKADDRS;
  return {LookupExtension(listenSocket, acceptId), LookupExtension(listenSocket, addressesId)};
}

uint32_t AcceptAddressAreaSize(uint16_t family) { return 2 * (AddressLength(family) + 16); }

void ReadAcceptAddresses(const AcceptFunctions& functions, const char* addressArea, uint16_t family,
                         SockAddr& local, SockAddr& remote) {
  std::memset(local.bytes, 0, sizeof local.bytes);
  std::memset(remote.bytes, 0, sizeof remote.bytes);
  if (functions.addresses == nullptr) return;
  const DWORD slot = AddressLength(family) + 16;
  sockaddr* localAddress = nullptr;
  sockaddr* remoteAddress = nullptr;
  int localLength = 0;
  int remoteLength = 0;
  reinterpret_cast<LPFN_GETACCEPTEXSOCKADDRS>(functions.addresses)(const_cast<char*>(addressArea), 0, slot,
                                                                   slot, &localAddress, &localLength,
                                                                   &remoteAddress, &remoteLength);
  auto copy = [](SockAddr& to, const sockaddr* from, int length) {
    if (from == nullptr || length <= 0) return;
    std::memcpy(to.bytes, from, length < static_cast<int>(sizeof to.bytes) ? length : sizeof to.bytes);
  };
  copy(local, localAddress, localLength);
  copy(remote, remoteAddress, remoteLength);
}

uint32_t UpdateAcceptContext(SocketHandle accepted, SocketHandle listenSocket) {
  const SOCKET listening = Native(listenSocket);
  if (::setsockopt(Native(accepted), SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                   reinterpret_cast<const char*>(&listening), sizeof listening) != 0) {
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

}  // namespace qolv::platform

#pragma once
#include <cstdint>

namespace qolv::platform {

// A socket handle: a SOCKET on Windows, a file descriptor elsewhere.
using SocketHandle = uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

// Address families in Windows numbering; the platform layer converts.
inline constexpr uint16_t kFamilyUnspecified = 0;
inline constexpr uint16_t kFamilyInet = 2;
inline constexpr uint16_t kFamilyInet6 = 23;

// The sizes of an IPv4 and an IPv6 socket address (sockaddr_in, sockaddr_in6), the same on both
// targets.
inline constexpr uint32_t kInetAddressLength = 16;
inline constexpr uint32_t kInet6AddressLength = 28;

// Socket address storage of 28 bytes, large enough for IPv6, family first. Its bytes are the
// platform's own socket address; read it through the functions of socket_io.h.
struct SockAddr {
  alignas(4) unsigned char bytes[kInet6AddressLength];
};

}  // namespace qolv::platform

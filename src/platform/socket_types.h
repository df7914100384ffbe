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

// Socket address storage of 28 bytes, large enough for IPv6, family first. Its bytes are the
// platform's own socket address; read it through the functions of socket_io.h.
struct SockAddr {
  alignas(4) unsigned char bytes[28];
};

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

}  // namespace qolv::platform

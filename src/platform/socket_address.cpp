// The parts of a socket address that read the same on both targets: the port sits at bytes 2 and
// 3 of IPv4 and IPv6 addresses alike, in network byte order, and the two sizes are fixed.
#include <cstdint>

#include "platform/socket_io.h"

namespace qolv::platform {

uint16_t AddressPort(const SockAddr& address) {
  return static_cast<uint16_t>(address.bytes[2] << 8 | address.bytes[3]);
}

void SetAddressPort(SockAddr& address, uint16_t port) {
  address.bytes[2] = static_cast<unsigned char>(port >> 8);
  address.bytes[3] = static_cast<unsigned char>(port & 0xFF);
}

uint32_t AddressLength(uint16_t family) {
  if (family == kFamilyInet) return kInetAddressLength;
  if (family == kFamilyInet6) return kInet6AddressLength;
  return 0;
}

}  // namespace qolv::platform

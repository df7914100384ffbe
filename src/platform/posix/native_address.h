#pragma once
#include <sys/socket.h>

#include <cstring>

#include "platform/socket_io.h"

namespace qolv::platform::posix {

// An address in the system's own form, for the calls that take one. The copy gives the system
// storage of its own alignment; length is 0 for a family the platform layer does not know.
struct NativeAddress {
  explicit NativeAddress(const SockAddr& address) : length(AddressLength(AddressFamily(address))) {
    std::memcpy(&storage, address.bytes, length);
  }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }

  sockaddr_storage storage{};
  socklen_t length;
};

}  // namespace qolv::platform::posix

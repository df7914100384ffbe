#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket_types.h"

namespace qolv::bench {

struct OpenedConnections {
  std::vector<platform::SocketHandle> sockets;  // connected, non-blocking, no Nagle delay
  uint64_t failed = 0;                          // refused, timed out or out of descriptors
};

// Opens count connections to host:port (a loopback address), a bounded number of them under
// way at once so that the listener's backlog is not flooded. Stops early when stop is raised.
// With sources above 1 (host 127.0.0.1 only) the connections come from 127.0.0.1 to
// 127.0.0.sources in turn.
OpenedConnections OpenConnections(const std::string& host, uint16_t port, uint32_t count, uint32_t timeoutMs,
                                  const volatile int& stop, uint32_t sources = 1);

}  // namespace qolv::bench

#pragma once
// The OS side of the blocking client calls; socket_client.cpp holds their loops.
#include <chrono>
#include <cstdint>

#include "platform/socket_types.h"

namespace qolv::platform::detail {

enum class SocketWait { kReadable, kWritable };

// Waits until the socket can be read (data or the peer's close) or written (room, or a connect
// that finished either way), at the latest until deadline. 0 when it is ready, 10060 when the
// time ran out, or the error.
uint32_t WaitSocketReady(SocketHandle socket, SocketWait wait,
                         std::chrono::steady_clock::time_point deadline);

}  // namespace qolv::platform::detail

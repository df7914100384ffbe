#pragma once
// Blocking socket calls for the client side (tools, tests, load generators). Each waits on the
// calling thread, at most timeoutMs, without a completion port; a socket used with them is not
// associated with one. Results are 0 or the error in Windows numbering (10060 when the time ran
// out), also left as the system error.
#include <cstdint>

#include "platform/socket_types.h"

namespace qolv::platform {

uint32_t ConnectBlocking(SocketHandle socket, const SockAddr& address, uint32_t timeoutMs);
// Sends every byte.
uint32_t SendBlocking(SocketHandle socket, const char* data, uint32_t length, uint32_t timeoutMs);
// Waits until data or the peer's close arrives, then reads what is there, up to length;
// *received 0 means the peer closed.
uint32_t ReceiveBlocking(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received,
                         uint32_t timeoutMs);

}  // namespace qolv::platform

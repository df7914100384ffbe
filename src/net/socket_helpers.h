#pragma once
// The engine's socket helpers: address texts in the engine's form, the listen socket's options
// and closing. Every failure leaves the socket error as the thread's system error.
#include <cstdint>

#include "platform/socket_io.h"
#include "platform/socket_types.h"

namespace qolv::net {

// Shutdown modes for CloseSocketEx.
inline constexpr int kShutdownNone = 0xFF;
inline constexpr int kShutdownSend = 1;
inline constexpr int kShutdownBoth = 2;

// kFamilyInet6 when the text holds a ':', kFamilyInet for exactly four dot-separated decimal
// numbers of 0 to 255, otherwise 0 (also for a null or empty text).
uint16_t DetectAddressFamily(const char* text);

// The socket address of an address text and port; a non-zero port overrides one in the text.
// An unrecognised family fails with 10049, a text the system cannot read with its error.
bool TextToSockAddr(const char* text, uint16_t port, platform::SockAddr& address);

// The bare address text of a socket address (no port, brackets or IPv6 scope), its family and
// its port in host order. length: the buffer's capacity in characters on entry, the text's
// length + 1 on success. The buffer must hold the system's full text (with port and scope),
// otherwise the result is false and length the size that would be needed.
bool SockAddrToText(const platform::SockAddr& address, uint16_t& family, char* text, int& length,
                    uint16_t& port);

// SockAddrToText of the socket's local address.
bool SocketLocalAddress(platform::SocketHandle socket, char* text, int& length, uint16_t& port);

// TCP keep-alive, time and interval in ms; 0 or the socket error.
uint32_t SetKeepAliveValues(platform::SocketHandle socket, bool on, uint32_t timeMs, uint32_t intervalMs);
// Address options by policy: 0 exclusive use, 1 neither exclusive use nor reuse, 2 reuse.
// Both options are always set; 0, or -1 when either failed or the policy is unknown (87).
int SetAddressReusePolicy(platform::SocketHandle socket, int32_t policy);
// 0 or -1.
int SetNoDelayOption(platform::SocketHandle socket, bool on);
int SetNonBlockingMode(platform::SocketHandle socket);

struct ListenSocketOptions {
  uint32_t keepAliveTime = 0;      // ms; keep-alive is on only when both values are non-zero
  uint32_t keepAliveInterval = 0;  // ms
  int32_t addressReusePolicy = 1;
  bool noDelay = false;
};
// Keep-alive, address reuse, no-delay and non-blocking mode, in this order; false at the first
// failure, with its error as the system error.
bool ApplyListenSocketOptions(platform::SocketHandle socket, const ListenSocketOptions& options);

// Closes a socket: graceful=false first sets an abortive linger so the close resets the
// connection; a shutdown mode other than kShutdownNone shuts the socket down before the close.
void CloseSocketEx(platform::SocketHandle socket, int shutdownMode = kShutdownNone, bool graceful = true);

}  // namespace qolv::net

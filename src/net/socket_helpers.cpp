#include "net/socket_helpers.h"

#include <cctype>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

using platform::SocketHandle;

// Reads one number the way scanf's %d does (leading white space, a sign, digits), saturating
// instead of overflowing; false when there are no digits.
bool ReadDecimal(const char*& cursor, long& value) {
  while (std::isspace(static_cast<unsigned char>(*cursor))) ++cursor;
  bool negative = false;
  if (*cursor == '+' || *cursor == '-') negative = *cursor++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*cursor))) return false;
  value = 0;
  while (std::isdigit(static_cast<unsigned char>(*cursor))) {
    if (value < 1000000) value = value * 10 + (*cursor - '0');
    ++cursor;
  }
  if (negative) value = -value;
  return true;
}

// Four numbers separated by dots and nothing after them: the "%d.%d.%d.%d%c" test that must
// yield exactly four values.
bool IsDottedQuad(const char* text) {
  const char* cursor = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *cursor++ != '.') return false;
    long value = 0;
    if (!ReadDecimal(cursor, value) || value < 0 || value > 255) return false;
  }
  return *cursor == '\0';
}

// The system's text carries the port and perhaps an IPv6 scope; only the bare address stays.
void CutToBareAddress(char* text, uint16_t family, uint16_t port) {
  if (family == platform::kFamilyInet) {
    if (port != 0) {
      if (char* colon = std::strchr(text, ':')) *colon = '\0';
    }
    return;
  }
  if (char* cut = std::strpbrk(text, port != 0 ? "]%" : "%")) *cut = '\0';
  if (port != 0 && text[0] == '[') std::memmove(text, text + 1, std::strlen(text));
}

int ZeroOrMinusOne(uint32_t error) { return error == err::kSuccess ? 0 : -1; }

}  // namespace

uint16_t DetectAddressFamily(const char* text) {
  if (text == nullptr || *text == '\0') return platform::kFamilyUnspecified;
  if (std::strchr(text, ':') != nullptr) return platform::kFamilyInet6;
  if (IsDottedQuad(text)) return platform::kFamilyInet;
  return platform::kFamilyUnspecified;
}

bool TextToSockAddr(const char* text, uint16_t port, platform::SockAddr& address) {
  const uint16_t family = DetectAddressFamily(text);
  if (family == platform::kFamilyUnspecified) {
    platform::SetSystemError(err::kWsaAddressNotAvailable);
    return false;
  }
  if (platform::TextToAddress(text, family, address) != err::kSuccess) return false;
  if (port != 0) platform::SetAddressPort(address, port);
  return true;
}

bool SockAddrToText(const platform::SockAddr& address, uint16_t& family, char* text, int& length,
                    uint16_t& port) {
  family = platform::AddressFamily(address);
  port = platform::AddressPort(address);
  uint32_t written = 0;
  const uint32_t capacity = length > 0 ? static_cast<uint32_t>(length) : 0;
  if (!platform::AddressToText(address, text, capacity, written)) {
    length = static_cast<int>(written);
    return false;
  }
  CutToBareAddress(text, family, port);
  length = static_cast<int>(std::strlen(text) + 1);
  return true;
}

bool SocketLocalAddress(SocketHandle socket, char* text, int& length, uint16_t& port) {
  platform::SockAddr address{};
  if (platform::LocalAddress(socket, address) != err::kSuccess) return false;
  uint16_t family = 0;
  return SockAddrToText(address, family, text, length, port);
}

uint32_t SetKeepAliveValues(SocketHandle socket, bool on, uint32_t timeMs, uint32_t intervalMs) {
  const uint32_t error = platform::SetKeepAlive(socket, on, timeMs, intervalMs);
  // Windows may report the keep-alive control as "would block" although it took effect.
  return error == err::kWsaWouldBlock ? err::kSuccess : error;
}

int SetAddressReusePolicy(SocketHandle socket, int32_t policy) {
  if (policy < 0 || policy > 2) {
    platform::SetSystemError(err::kInvalidParameter);
    return -1;
  }
  const uint32_t exclusive = platform::SetExclusiveAddressUse(socket, policy == 0);
  const uint32_t reuse = platform::SetReuseAddress(socket, policy == 2);
  // The second call must not hide a failure of the first one.
  if (exclusive != err::kSuccess && reuse == err::kSuccess) platform::SetSystemError(exclusive);
  return exclusive == err::kSuccess && reuse == err::kSuccess ? 0 : -1;
}

int SetNoDelayOption(SocketHandle socket, bool on) {
  return ZeroOrMinusOne(platform::SetNoDelay(socket, on));
}

int SetNonBlockingMode(SocketHandle socket) { return ZeroOrMinusOne(platform::SetNonBlocking(socket)); }

bool ApplyListenSocketOptions(SocketHandle socket, const ListenSocketOptions& options) {
  const bool keepAlive = options.keepAliveTime != 0 && options.keepAliveInterval != 0;
  return SetKeepAliveValues(socket, keepAlive, options.keepAliveTime, options.keepAliveInterval) ==
             err::kSuccess &&
         SetAddressReusePolicy(socket, options.addressReusePolicy) == 0 &&
         SetNoDelayOption(socket, options.noDelay) == 0 && SetNonBlockingMode(socket) == 0;
}

void CloseSocketEx(SocketHandle socket, int shutdownMode, bool graceful) {
  if (!graceful) platform::SetLingerAbort(socket);
  if (shutdownMode != kShutdownNone) platform::ShutdownSocket(socket, shutdownMode);
  platform::CloseSocket(socket);
}

}  // namespace qolv::net

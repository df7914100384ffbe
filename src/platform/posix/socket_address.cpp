// Socket addresses and their texts, in the Windows forms so that the code above reads them the
// same way on both targets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/socket_io.h"

namespace qolv::platform {
namespace {

using posix::ReportError;

static_assert(sizeof(sockaddr_in) == kInetAddressLength && sizeof(sockaddr_in6) == kInet6AddressLength,
              "the shared address code relies on the system's address sizes");

uint16_t NativeFamily(const SockAddr& address) {
  sa_family_t family = 0;
  std::memcpy(&family, address.bytes + offsetof(sockaddr, sa_family), sizeof family);
  return family;
}

// A decimal number of at most max, with nothing else in [begin, end).
bool ParseDecimal(const char* begin, const char* end, unsigned long max, unsigned long& value) {
  if (begin == end || end - begin > 10) return false;
  value = 0;
  for (const char* c = begin; c != end; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*c - '0');
  }
  return value <= max;
}

bool ParsePort(const char* begin, const char* end, uint16_t& port) {
  unsigned long value = 0;
  if (!ParseDecimal(begin, end, 65535, value)) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// "a.b.c.d" or "a.b.c.d:port".
bool ParseInet(const char* text, SockAddr& address) {
  const char* end = text + std::strlen(text);
  const char* colon = std::strchr(text, ':');
  uint16_t port = 0;
  if (colon != nullptr && !ParsePort(colon + 1, end, port)) return false;
  const std::string host(text, colon != nullptr ? colon : end);
  sockaddr_in native{};
  native.sin_family = AF_INET;
  native.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &native.sin_addr) != 1) return false;
  std::memcpy(address.bytes, &native, sizeof native);
  return true;
}

// "addr", "addr%scope", "[addr]", "[addr%scope]" or either bracketed form with ":port".
bool ParseInet6(const char* text, SockAddr& address) {
  const char* begin = text;
  const char* end = text + std::strlen(text);
  uint16_t port = 0;
  if (*begin == '[') {
    const char* close = std::strchr(begin, ']');
    if (close == nullptr) return false;
    if (close + 1 != end && (close[1] != ':' || !ParsePort(close + 2, end, port))) return false;
    ++begin;
    end = close;
  }
  const char* percent = static_cast<const char*>(std::memchr(begin, '%', end - begin));
  unsigned long scope = 0;
  if (percent != nullptr && !ParseDecimal(percent + 1, end, 0xFFFFFFFFul, scope)) return false;
  const std::string host(begin, percent != nullptr ? percent : end);
  sockaddr_in6 native{};
  native.sin6_family = AF_INET6;
  native.sin6_port = htons(port);
  native.sin6_scope_id = static_cast<uint32_t>(scope);
  if (::inet_pton(AF_INET6, host.c_str(), &native.sin6_addr) != 1) return false;
  std::memcpy(address.bytes, &native, sizeof native);
  return true;
}

}  // namespace

uint16_t AddressFamily(const SockAddr& address) {
  switch (NativeFamily(address)) {
    case AF_INET:
      return kFamilyInet;
    case AF_INET6:
      return kFamilyInet6;
    default:
      return kFamilyUnspecified;
  }
}

uint32_t TextToAddress(const char* text, uint16_t family, SockAddr& address) {
  std::memset(address.bytes, 0, sizeof address.bytes);
  if (text == nullptr) return ReportError(err::kWsaInvalidArgument);
  bool parsed = false;
  if (family == kFamilyInet) {
    parsed = ParseInet(text, address);
  } else if (family == kFamilyInet6) {
    parsed = ParseInet6(text, address);
  } else {
    return ReportError(err::kWsaFamilyNotSupported);
  }
  if (!parsed) {
    std::memset(address.bytes, 0, sizeof address.bytes);
    return ReportError(err::kWsaInvalidArgument);
  }
  return ReportError(err::kSuccess);
}

bool AddressToText(const SockAddr& address, char* text, uint32_t capacity, uint32_t& length) {
  char host[INET6_ADDRSTRLEN] = {};
  char full[INET6_ADDRSTRLEN + 24] = {};
  const uint16_t port = AddressPort(address);
  const uint16_t family = AddressFamily(address);
  if (family == kFamilyInet) {
    sockaddr_in native{};
    std::memcpy(&native, address.bytes, sizeof native);
    ::inet_ntop(AF_INET, &native.sin_addr, host, sizeof host);
    if (port != 0) {
      std::snprintf(full, sizeof full, "%s:%u", host, port);
    } else {
      std::snprintf(full, sizeof full, "%s", host);
    }
  } else if (family == kFamilyInet6) {
    sockaddr_in6 native{};
    std::memcpy(&native, address.bytes, sizeof native);
    ::inet_ntop(AF_INET6, &native.sin6_addr, host, sizeof host);
    char scoped[INET6_ADDRSTRLEN + 12] = {};
    if (native.sin6_scope_id != 0) {
      std::snprintf(scoped, sizeof scoped, "%s%%%u", host, native.sin6_scope_id);
    } else {
      std::snprintf(scoped, sizeof scoped, "%s", host);
    }
    if (port != 0) {
      std::snprintf(full, sizeof full, "[%s]:%u", scoped, port);
    } else {
      std::snprintf(full, sizeof full, "%s", scoped);
    }
  } else {
    ReportError(err::kWsaInvalidArgument);
    return false;
  }
  const uint32_t needed = static_cast<uint32_t>(std::strlen(full)) + 1;
  if (text == nullptr || capacity < needed) {
    length = needed;  // as Windows does, so a caller can learn the size
    ReportError(err::kWsaFault);
    return false;
  }
  std::memcpy(text, full, needed);
  length = needed;
  ReportError(err::kSuccess);
  return true;
}

}  // namespace qolv::platform

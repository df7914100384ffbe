// Socket addresses and their texts through WSAStringToAddressW and WSAAddressToStringW; the
// texts are UTF-8 outside this file.

// Winsock must precede the other system headers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
// clang-format on

#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "platform/socket_io.h"
#include "platform/win32/socket_error.h"

namespace qolv::platform {
namespace {

using win32::ReportError;
using win32::ReportSocketError;

static_assert(sizeof(sockaddr_in) == kInetAddressLength && sizeof(sockaddr_in6) == kInet6AddressLength,
              "the shared address code relies on the system's address sizes");

// Address texts are short; anything longer than this is no address.
constexpr int kLongestText = 128;

bool Widen(const char* text, std::wstring& wide) {
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (length <= 0 || length > kLongestText) return false;
  wide.resize(static_cast<size_t>(length));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), length);
  return true;
}

}  // namespace

uint16_t AddressFamily(const SockAddr& address) {
  ADDRESS_FAMILY family = 0;
  std::memcpy(&family, address.bytes, sizeof family);
  return family == AF_INET || family == AF_INET6 ? family : kFamilyUnspecified;
}

uint32_t TextToAddress(const char* text, uint16_t family, SockAddr& address) {
  std::memset(address.bytes, 0, sizeof address.bytes);
  const int length = static_cast<int>(AddressLength(family));
  if (length == 0) return ReportError(err::kWsaFamilyNotSupported);
  std::wstring wide;
  if (text == nullptr || !Widen(text, wide)) return ReportError(err::kWsaInvalidArgument);
  int size = length;
  if (::WSAStringToAddressW(wide.data(), family, nullptr, reinterpret_cast<sockaddr*>(address.bytes),
                            &size) != 0) {
    std::memset(address.bytes, 0, sizeof address.bytes);
    return ReportSocketError();
  }
  return ReportError(err::kSuccess);
}

bool AddressToText(const SockAddr& address, char* text, uint32_t capacity, uint32_t& length) {
  const uint32_t size = AddressLength(AddressFamily(address));
  if (size == 0) {
    ReportError(err::kWsaInvalidArgument);
    return false;
  }
  // The system checks the caller's capacity itself, so "too small" means the same as on Windows.
  wchar_t wide[kLongestText];
  DWORD wideLength = capacity < kLongestText ? capacity : kLongestText;
  SockAddr copy = address;
  if (::WSAAddressToStringW(reinterpret_cast<sockaddr*>(copy.bytes), size, nullptr, wide, &wideLength) != 0) {
    length = wideLength;
    ReportSocketError();
    return false;
  }
  const int written =
      ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, static_cast<int>(capacity), nullptr, nullptr);
  if (written <= 0) {
    ReportError(err::kWsaFault);
    return false;
  }
  length = static_cast<uint32_t>(written);
  ReportError(err::kSuccess);
  return true;
}

}  // namespace qolv::platform

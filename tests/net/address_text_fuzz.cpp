// Fuzzes the socket helpers' address texts. Bytes 0-1 are a port (big-endian), byte 2 the
// capacity of a text buffer, the rest up to its first zero byte the address text.
// - The family detected must be the one the C library's "%d.%d.%d.%d%c" reading gives (exactly
//   four values, each 0..255) when the text has no ':', and AF_INET6 when it has one.
// - An address made from an IPv4 text holds the four numbers; a non-zero port replaces the text's.
// - The bare text of an address reads back as the same address (an IPv6 scope is dropped), and it
//   fits in a buffer exactly when the buffer holds the system's full text, which is then its size.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "net/socket_helpers.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

// The four numbers of a dotted quad, read with the C library.
struct Quad {
  bool valid = false;
  int parts[4] = {};
};

// True when every run of digits, without its leading zeros, fits an int: the C library's reading
// of a longer one is undefined. A text with a longer run is never a valid quad anyway, since that
// number is out of range or follows the fourth one.
bool DigitRunsFitAnInt(const std::string& text) {
  size_t significant = 0;
  bool leading = true;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      significant = 0;
      leading = true;
    } else if (!leading || c != '0') {
      leading = false;
      if (++significant > 9) return false;
    }
  }
  return true;
}

Quad ReadQuad(const std::string& text) {
  Quad quad;
  if (!DigitRunsFitAnInt(text)) return quad;
  char after = 0;
  const int read = std::sscanf(text.c_str(), "%d.%d.%d.%d%c", &quad.parts[0], &quad.parts[1], &quad.parts[2],
                               &quad.parts[3], &after);
  quad.valid = read == 4;
  for (const int part : quad.parts) quad.valid = quad.valid && part >= 0 && part <= 255;
  return quad;
}

uint16_t ExpectedFamily(const std::string& text, const Quad& quad) {
  if (text.empty()) return platform::kFamilyUnspecified;
  if (text.find(':') != std::string::npos) return platform::kFamilyInet6;
  return quad.valid ? platform::kFamilyInet : platform::kFamilyUnspecified;
}

// The bytes that name the address: an IPv6 scope (the last four bytes) is not part of its text.
bool SameAddress(const platform::SockAddr& a, const platform::SockAddr& b, uint16_t family) {
  const size_t compared = family == platform::kFamilyInet ? 16 : 24;
  return std::memcmp(a.bytes, b.bytes, compared) == 0;
}

void CheckText(const platform::SockAddr& address, uint16_t family, uint8_t capacity) {
  uint16_t reportedFamily = 0;
  uint16_t port = 0;
  int needed = 0;
  FUZZ_CHECK(!SockAddrToText(address, reportedFamily, nullptr, needed, port) && needed > 1,
             "an empty buffer learns the size the system's text needs");

  char bare[128];
  int length = sizeof bare;
  FUZZ_CHECK(SockAddrToText(address, reportedFamily, bare, length, port), "a large buffer takes the text");
  const std::string text(bare);
  FUZZ_CHECK(reportedFamily == family && port == platform::AddressPort(address), "family and port: " + text);
  FUZZ_CHECK(length == static_cast<int>(text.size()) + 1, "the length counts the terminator: " + text);
  FUZZ_CHECK(text.find_first_of(family == platform::kFamilyInet ? "[]%:" : "[]%") == std::string::npos,
             "the text is bare: " + text);

  platform::SockAddr again{};
  FUZZ_CHECK(TextToSockAddr(text.c_str(), port, again) && SameAddress(address, again, family),
             "the bare text reads back as the same address: " + text);

  // An exact-size buffer, so that a write past its end is caught.
  const auto exact = std::make_unique<char[]>(capacity);
  length = capacity;
  const bool fits = SockAddrToText(address, reportedFamily, exact.get(), length, port);
  FUZZ_CHECK(fits == (capacity >= needed), "the text fits when the buffer holds the full text: " + text);
  FUZZ_CHECK(fits ? std::string(exact.get()) == text && length == static_cast<int>(text.size()) + 1
                  : length == needed,
             "capacity " + std::to_string(capacity) + ", needed " + std::to_string(needed) + ": " + text);
}

}  // namespace
}  // namespace qolv::net

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qolv;
  using namespace qolv::net;
  if (size < 3) return 0;
  const auto port = static_cast<uint16_t>(data[0] << 8 | data[1]);
  const uint8_t capacity = data[2];
  std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
  text.resize(std::strlen(text.c_str()));

  const Quad quad = ReadQuad(text);
  const uint16_t family = DetectAddressFamily(text.c_str());
  FUZZ_CHECK(family == ExpectedFamily(text, quad),
             "family " + std::to_string(family) + " of \"" + text + "\"");

  platform::SockAddr address{};
  platform::SetSystemError(0);
  const bool made = TextToSockAddr(text.c_str(), port, address);
  if (family == platform::kFamilyUnspecified) {
    FUZZ_CHECK(!made && platform::GetSystemError() == err::kWsaAddressNotAvailable,
               "an unknown family fails");
    return 0;
  }
  if (!made) return 0;
  FUZZ_CHECK(platform::AddressFamily(address) == family, "the address has the detected family");
  if (port != 0) FUZZ_CHECK(platform::AddressPort(address) == port, "a non-zero port replaces the text's");
  if (family == platform::kFamilyInet) {
    for (int i = 0; i < 4; ++i) {
      FUZZ_CHECK(address.bytes[4 + i] == quad.parts[i], "the address holds the numbers of \"" + text + "\"");
    }
  }
  CheckText(address, family, capacity);
  return 0;
}

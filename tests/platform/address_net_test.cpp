#include <string>

#include "support/platform/net_fixture.h"

namespace qolv::platform::testing {
namespace {

// The system's text of an address, or "<failed>".
std::string TextOf(const SockAddr& address) {
  char text[80];
  uint32_t length = 0;
  if (!AddressToText(address, text, sizeof text, length)) return "<failed>";
  EXPECT_EQ(length, std::string(text).size() + 1);
  return text;
}

std::string RoundTrip(const char* text, uint16_t family) {
  SockAddr address{};
  if (TextToAddress(text, family, address) != 0) return "<failed>";
  EXPECT_EQ(AddressFamily(address), family);
  return TextOf(address);
}

TEST(AddressText, HasTheWindowsFormsWithAndWithoutPort) {
  EXPECT_EQ(RoundTrip("127.0.0.1", kFamilyInet), "127.0.0.1");
  EXPECT_EQ(RoundTrip("127.0.0.1:50000", kFamilyInet), "127.0.0.1:50000");
  EXPECT_EQ(RoundTrip("::1", kFamilyInet6), "::1");
  EXPECT_EQ(RoundTrip("[::1]:443", kFamilyInet6), "[::1]:443");
  EXPECT_EQ(RoundTrip("fe80::1%3", kFamilyInet6), "fe80::1%3");
  EXPECT_EQ(RoundTrip("[fe80::1%3]:443", kFamilyInet6), "[fe80::1%3]:443");
}

TEST(AddressText, PortIsReadAndSetInHostOrder) {
  SockAddr address{};
  ASSERT_EQ(TextToAddress("10.1.2.3:8080", kFamilyInet, address), 0u);
  EXPECT_EQ(AddressPort(address), 8080u);
  SetAddressPort(address, 9199);
  EXPECT_EQ(AddressPort(address), 9199u);
  EXPECT_EQ(TextOf(address), "10.1.2.3:9199");
  EXPECT_EQ(AddressLength(kFamilyInet), 16u);
  EXPECT_EQ(AddressLength(kFamilyInet6), 28u);
  EXPECT_EQ(AddressLength(kFamilyUnspecified), 0u);
}

TEST(AddressText, RejectsTextsThatAreNoAddressOfTheFamily) {
  SockAddr address{};
  EXPECT_NE(TextToAddress("::1", kFamilyInet, address), 0u);
  EXPECT_NE(TextToAddress("1.2.3.4", kFamilyInet6, address), 0u);
  EXPECT_NE(TextToAddress("999.1.1.1", kFamilyInet, address), 0u);
  EXPECT_NE(TextToAddress("1.2.3.4:99999", kFamilyInet, address), 0u);
  EXPECT_NE(TextToAddress("[::1", kFamilyInet6, address), 0u);
  EXPECT_NE(TextToAddress("", kFamilyInet, address), 0u);
}

TEST(AddressText, TooSmallBufferFailsAndTellsTheSizeNeeded) {
  SockAddr address{};
  ASSERT_EQ(TextToAddress("127.0.0.1:50000", kFamilyInet, address), 0u);
  char text[16];
  uint32_t length = 0;
  EXPECT_FALSE(AddressToText(address, text, 15, length));
  EXPECT_EQ(length, 16u);
  EXPECT_TRUE(AddressToText(address, text, 16, length));
  EXPECT_EQ(std::string(text), "127.0.0.1:50000");
}

}  // namespace
}  // namespace qolv::platform::testing

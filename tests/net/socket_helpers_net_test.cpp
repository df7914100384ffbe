#include "net/socket_helpers.h"

#include <string>

#include "support/platform/net_fixture.h"

namespace qolv::net {
namespace {

using platform::SockAddr;
using platform::SocketHandle;

TEST(DetectAddressFamily, ReadsDottedQuadsColonsAndNothingElse) {
  EXPECT_EQ(DetectAddressFamily("0.0.0.0"), platform::kFamilyInet);
  EXPECT_EQ(DetectAddressFamily("127.0.0.1"), platform::kFamilyInet);
  EXPECT_EQ(DetectAddressFamily("255.255.255.255"), platform::kFamilyInet);
  EXPECT_EQ(DetectAddressFamily("::"), platform::kFamilyInet6);
  EXPECT_EQ(DetectAddressFamily("fe80::1%3"), platform::kFamilyInet6);
  EXPECT_EQ(DetectAddressFamily("1.2.3.4:80"), platform::kFamilyInet6);  // any ':' decides

  for (const char* text : {"1.2.3", "1.2.3.4x", "256.0.0.1", "1.2.3.4.5", "-1.0.0.0", "1..2.3",
                           "99999999999999999999.0.0.1", "localhost", "1.2.3.4 ", ""}) {
    EXPECT_EQ(DetectAddressFamily(text), platform::kFamilyUnspecified) << '"' << text << '"';
  }
  EXPECT_EQ(DetectAddressFamily(nullptr), platform::kFamilyUnspecified);
}

TEST(TextToSockAddr, UnknownFamilyFailsWithAddressNotAvailable) {
  SockAddr address{};
  for (const char* text : {"1.2.3", "1.2.3.4x", "256.0.0.1", "", "localhost"}) {
    platform::SetSystemError(0);
    EXPECT_FALSE(TextToSockAddr(text, 9199, address)) << text;
    EXPECT_EQ(platform::GetSystemError(), err::kWsaAddressNotAvailable) << text;
  }
}

TEST(TextToSockAddr, NonZeroPortOverridesThePortOfTheText) {
  SockAddr address{};
  ASSERT_TRUE(TextToSockAddr("0.0.0.0", 9199, address));
  EXPECT_EQ(platform::AddressFamily(address), platform::kFamilyInet);
  EXPECT_EQ(platform::AddressPort(address), 9199u);
  // Only an IPv6 text can carry a port: an IPv4 text with ':' detects as IPv6 and fails.
  ASSERT_TRUE(TextToSockAddr("[::1]:80", 0, address));
  EXPECT_EQ(platform::AddressFamily(address), platform::kFamilyInet6);
  EXPECT_EQ(platform::AddressPort(address), 80u);
  ASSERT_TRUE(TextToSockAddr("[::1]:80", 443, address));
  EXPECT_EQ(platform::AddressPort(address), 443u);
  EXPECT_FALSE(TextToSockAddr("127.0.0.1:80", 0, address));
}

struct Described {
  std::string text;
  int length = 0;
  uint16_t family = 0;
  uint16_t port = 0;
  bool ok = false;
};

Described Describe(const char* text, uint16_t port, int capacity = 64) {
  SockAddr address{};
  EXPECT_TRUE(TextToSockAddr(text, port, address)) << text;
  Described result;
  char buffer[64] = {};
  result.length = capacity;
  result.ok = SockAddrToText(address, result.family, buffer, result.length, result.port);
  if (result.ok) result.text = buffer;
  return result;
}

TEST(SockAddrToText, LeavesTheBareAddressAndItsLength) {
  Described d = Describe("127.0.0.1", 50000);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.text, "127.0.0.1");
  EXPECT_EQ(d.length, 10);
  EXPECT_EQ(d.family, platform::kFamilyInet);
  EXPECT_EQ(d.port, 50000u);

  d = Describe("0.0.0.0", 9199);
  EXPECT_EQ(d.text, "0.0.0.0");
  EXPECT_EQ(d.length, 8);

  d = Describe("fe80::1%3", 443);
  EXPECT_EQ(d.text, "fe80::1");
  EXPECT_EQ(d.length, 8);
  EXPECT_EQ(d.family, platform::kFamilyInet6);
  EXPECT_EQ(d.port, 443u);

  d = Describe("fe80::1%3", 0);  // no port: only the scope goes
  EXPECT_EQ(d.text, "fe80::1");
  d = Describe("10.0.0.1", 0);
  EXPECT_EQ(d.text, "10.0.0.1");
  EXPECT_EQ(d.length, 9);
}

TEST(SockAddrToText, BufferMustHoldTheSystemsFullText) {
  // "127.0.0.1:50000" needs 16 characters although the result is shorter.
  Described d = Describe("127.0.0.1", 50000, 15);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.length, 16);
  d = Describe("127.0.0.1", 50000, 16);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.text, "127.0.0.1");
  d = Describe("127.0.0.1", 50000, 0);
  EXPECT_FALSE(d.ok);
}

class SocketHelpersTest : public platform::testing::NetFixture {};

TEST_F(SocketHelpersTest, AddressesOfARealConnection) {
  Listen();
  const Pair pair = Connected();
  char text[64];
  int length = sizeof text;
  uint16_t port = 0;
  ASSERT_TRUE(SocketLocalAddress(listener_, text, length, port));
  EXPECT_EQ(std::string(text), "127.0.0.1");
  EXPECT_EQ(length, 10);
  EXPECT_EQ(port, platform::AddressPort(listenAddress_));

  SockAddr clientAddress{};
  ASSERT_EQ(platform::LocalAddress(pair.client, clientAddress), 0u);
  uint16_t family = 0;
  length = sizeof text;
  ASSERT_TRUE(SockAddrToText(clientAddress, family, text, length, port));
  EXPECT_EQ(std::string(text), "127.0.0.1");
  EXPECT_EQ(length, 10);
  EXPECT_NE(port, 0u);
}

TEST_F(SocketHelpersTest, ListenOptionsAcceptGoodPoliciesAndRefuseABadOne) {
  for (int32_t policy = 0; policy <= 2; ++policy) {
    const SocketHandle socket = Own(platform::CreateStreamSocket(platform::kFamilyInet));
    ListenSocketOptions options;
    options.keepAliveTime = 60000;
    options.keepAliveInterval = 20000;
    options.addressReusePolicy = policy;
    options.noDelay = true;
    EXPECT_TRUE(ApplyListenSocketOptions(socket, options)) << policy << " " << platform::GetSystemError();
  }
  const SocketHandle socket = Own(platform::CreateStreamSocket(platform::kFamilyInet));
  EXPECT_EQ(SetAddressReusePolicy(socket, 3), -1);
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
  EXPECT_EQ(SetAddressReusePolicy(socket, -1), -1);
  ListenSocketOptions options;
  options.addressReusePolicy = 3;
  EXPECT_FALSE(ApplyListenSocketOptions(socket, options));
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
}

// A listener bound with the given policy on a loopback port, and whether a second socket with
// the other policy can bind the same port while the first listens.
bool SecondBindSucceeds(platform::testing::NetFixture& fixture, int32_t first, int32_t second,
                        uint32_t* error) {
  const SocketHandle a = fixture.Own(platform::CreateStreamSocket(platform::kFamilyInet));
  const SocketHandle b = fixture.Own(platform::CreateStreamSocket(platform::kFamilyInet));
  SockAddr address{};
  EXPECT_TRUE(TextToSockAddr("127.0.0.1", 0, address));
  EXPECT_EQ(SetAddressReusePolicy(a, first), 0);
  EXPECT_EQ(platform::BindSocket(a, address), 0u);
  EXPECT_EQ(platform::ListenSocket(a, 8), 0u);
  EXPECT_EQ(platform::LocalAddress(a, address), 0u);
  EXPECT_EQ(SetAddressReusePolicy(b, second), 0);
  *error = platform::BindSocket(b, address);
  return *error == 0;
}

TEST_F(SocketHelpersTest, ExclusiveAndDefaultPoliciesKeepAListeningPortToThemselves) {
  uint32_t error = 0;
  EXPECT_FALSE(SecondBindSucceeds(*this, 0, 1, &error));
  EXPECT_EQ(error, err::kWsaAddressInUse);
  EXPECT_FALSE(SecondBindSucceeds(*this, 1, 1, &error));
  EXPECT_EQ(error, err::kWsaAddressInUse);
  // Reuse does not break exclusive use either (Windows refuses with 10013, Linux with 10048).
  EXPECT_FALSE(SecondBindSucceeds(*this, 0, 2, &error));
}

TEST_F(SocketHelpersTest, CloseWithoutGraceResetsAndShutdownSendClosesInOrder) {
  Listen();
  Pair pair = Connected();
  // The client learns of the reset through an overlapped receive, the way the engine does.
  ASSERT_TRUE(port_.Associate(pair.client, platform::testing::kConnectionKey + 1));
  char buffer[8];
  platform::testing::IoRecord record;
  ASSERT_EQ(platform::StartReceive(pair.client, buffer, sizeof buffer, &record.overlapped), 0u);
  Forget(pair.server);
  CloseSocketEx(pair.server, kShutdownNone, false);
  const platform::Completion done = Next();
  EXPECT_FALSE(done.ok);
  uint32_t bytes = 0;
  EXPECT_EQ(platform::OverlappedResult(pair.client, &record.overlapped, &bytes), err::kWsaConnectionReset);

  pair = Connected();
  uint32_t received = 0;
  ASSERT_EQ(platform::SendBlocking(pair.server, "bye", 3, platform::testing::kPatience), 0u);
  Forget(pair.server);
  CloseSocketEx(pair.server, kShutdownSend);
  ASSERT_EQ(
      platform::ReceiveBlocking(pair.client, buffer, sizeof buffer, &received, platform::testing::kPatience),
      0u);
  EXPECT_EQ(std::string(buffer, received), "bye");
  ASSERT_EQ(
      platform::ReceiveBlocking(pair.client, buffer, sizeof buffer, &received, platform::testing::kPatience),
      0u);
  EXPECT_EQ(received, 0u) << "the peer sees an orderly close after the data";
}

}  // namespace
}  // namespace qolv::net

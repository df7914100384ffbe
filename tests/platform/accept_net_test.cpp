#include <string>

#include "support/platform/net_fixture.h"

namespace qolv::platform::testing {
namespace {

class AcceptTest : public NetFixture {
 protected:
  // Checks one accept completion and the addresses it left for the client.
  void ExpectAccepted(const Completion& done, IoRecord& record, SocketHandle client) {
    EXPECT_TRUE(done.ok) << done.error;
    EXPECT_EQ(done.bytes, 0u);
    EXPECT_EQ(done.key, kListenKey);
    EXPECT_EQ(done.overlapped, &record.overlapped);
    ASSERT_NE(record.accepted, kInvalidSocket);
    EXPECT_EQ(UpdateAcceptContext(record.accepted, listener_), 0u);

    SockAddr local{};
    SockAddr remote{};
    ReadAcceptAddresses(functions_, record.addresses, family_, local, remote);
    SockAddr clientAddress{};
    ASSERT_EQ(LocalAddress(client, clientAddress), 0u);
    EXPECT_EQ(AddressFamily(local), family_);
    EXPECT_EQ(AddressFamily(remote), family_);
    EXPECT_EQ(AddressPort(local), AddressPort(listenAddress_));
    EXPECT_EQ(AddressPort(remote), AddressPort(clientAddress));
  }
};

TEST_F(AcceptTest, PendingAcceptCompletesOnceWhenAClientArrives) {
  Listen();
  IoRecord record;
  ASSERT_EQ(BeginAccept(record), 0u) << GetSystemError();
  EXPECT_TRUE(Quiet()) << "an accept completed without a client";
  const SocketHandle client = Connect();
  const Completion done = Next();
  ExpectAccepted(done, record, client);
  Own(record.accepted);
  EXPECT_TRUE(Quiet());
}

TEST_F(AcceptTest, AcceptOfAWaitingClientStillCompletesThroughThePort) {
  Listen();
  const SocketHandle client = Connect();
  IoRecord record;
  ASSERT_EQ(BeginAccept(record), 0u) << GetSystemError();
  const Completion done = Next();
  ExpectAccepted(done, record, client);
  Own(record.accepted);
  EXPECT_TRUE(Quiet());
}

TEST_F(AcceptTest, SeveralOutstandingAcceptsEachTakeOneClient) {
  Listen();
  constexpr int kCount = 4;
  IoRecord records[kCount];
  for (IoRecord& record : records) ASSERT_EQ(BeginAccept(record), 0u);
  for (int i = 0; i < kCount; ++i) Connect();
  bool seen[kCount] = {};
  for (int i = 0; i < kCount; ++i) {
    const Completion done = Next();
    ASSERT_TRUE(done.ok);
    const auto* record = reinterpret_cast<const IoRecord*>(done.overlapped);
    const auto index = record - records;
    ASSERT_TRUE(index >= 0 && index < kCount);
    EXPECT_FALSE(seen[index]) << "accept " << index << " completed twice";
    seen[index] = true;
    Own(records[index].accepted);
  }
  EXPECT_TRUE(Quiet());
}

TEST_F(AcceptTest, IPv6LoopbackAcceptsAndCarriesData) {
  Listen(kFamilyInet6);
  IoRecord record;
  ASSERT_EQ(BeginAccept(record), 0u) << GetSystemError();
  const SocketHandle client = Connect();
  const Completion done = Next();
  ExpectAccepted(done, record, client);
  const SocketHandle server = Own(record.accepted);
  ASSERT_TRUE(port_.Associate(server, kConnectionKey));

  char text[64];
  uint32_t length = 0;
  ASSERT_TRUE(AddressToText(listenAddress_, text, sizeof text, length));
  EXPECT_EQ(std::string(text), "[::1]:" + std::to_string(AddressPort(listenAddress_)));

  ASSERT_EQ(SendBlocking(client, "six", 3, kPatience), 0u);
  char buffer[8] = {};
  IoRecord receive;
  ASSERT_EQ(StartReceive(server, buffer, sizeof buffer, &receive.overlapped), 0u);
  const Completion received = Next();
  EXPECT_TRUE(received.ok);
  EXPECT_EQ(received.key, kConnectionKey);
  EXPECT_EQ(received.bytes, 3u);
  EXPECT_EQ(std::string(buffer, 3), "six");
}

}  // namespace
}  // namespace qolv::platform::testing

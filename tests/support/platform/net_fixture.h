#pragma once
// A completion port with a loopback listener, and small blocking helpers, for the tests of the
// socket layer. Written against the neutral headers only, so the same tests run on every target.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/completion_port.h"
#include "platform/error_codes.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"

namespace qolv::platform::testing {

inline constexpr uint32_t kPatience = 10000;  // ms; generous for a slow shared machine
inline constexpr uint32_t kQuietMs = 100;     // ms a test waits to see that nothing more arrives
inline constexpr uintptr_t kListenKey = 0x11570;
inline constexpr uintptr_t kConnectionKey = 0xC0440;

// One operation's record with room for an accept's addresses.
struct IoRecord {
  Overlapped overlapped{};
  SocketHandle accepted = kInvalidSocket;
  char addresses[128] = {};
};

class NetFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartSocketLibrary());
    ASSERT_TRUE(port_.Open()) << GetSystemError();
  }

  void TearDown() override {
    for (SocketHandle socket : owned_) CloseSocket(socket);
    port_.Close();
    StopSocketLibrary();
  }

 public:
  // Keeps a socket to be closed at the end of the test.
  SocketHandle Own(SocketHandle socket) {
    EXPECT_NE(socket, kInvalidSocket) << GetSystemError();
    owned_.push_back(socket);
    return socket;
  }

  // The test closes this socket itself.
  void Forget(SocketHandle socket) {
    for (auto it = owned_.begin(); it != owned_.end(); ++it) {
      if (*it == socket) {
        owned_.erase(it);
        return;
      }
    }
  }

  // Closes a socket the test owns before the end of the test.
  void Close(SocketHandle socket) {
    Forget(socket);
    CloseSocket(socket);
  }

  static const char* LoopbackText(uint16_t family) { return family == kFamilyInet6 ? "::1" : "127.0.0.1"; }

  // A listener on the loopback address of the family, port chosen by the system, associated
  // with the port under kListenKey.
  SocketHandle Listen(uint16_t family = kFamilyInet) {
    family_ = family;
    listener_ = Own(CreateStreamSocket(family));
    SockAddr address{};
    EXPECT_EQ(TextToAddress(LoopbackText(family), family, address), 0u);
    EXPECT_EQ(BindSocket(listener_, address), 0u);
    EXPECT_EQ(ListenSocket(listener_, 64), 0u);
    EXPECT_EQ(SetNonBlocking(listener_), 0u);
    EXPECT_EQ(LocalAddress(listener_, listenAddress_), 0u);
    EXPECT_NE(AddressPort(listenAddress_), 0u);
    EXPECT_TRUE(port_.Associate(listener_, kListenKey)) << GetSystemError();
    functions_ = LookupAcceptFunctions(listener_);
    EXPECT_NE(functions_.accept, nullptr);
    EXPECT_NE(functions_.addresses, nullptr);
    return listener_;
  }

  // A client socket connected to the listener (the connection waits in the backlog).
  SocketHandle Connect() {
    const SocketHandle client = Own(CreateStreamSocket(family_));
    EXPECT_EQ(ConnectBlocking(client, listenAddress_, kPatience), 0u);
    return client;
  }

  uint32_t BeginAccept(IoRecord& record) {
    return StartAccept(functions_, listener_, family_, &record.overlapped, record.addresses,
                       &record.accepted);
  }

  // The next completion; a failed test and an empty completion when none came in time.
  Completion Next() {
    Completion completion;
    if (!port_.Wait(completion, kPatience)) {
      ADD_FAILURE() << "no completion within " << kPatience << " ms, error " << GetSystemError();
      return Completion{};
    }
    return completion;
  }

  // True when no completion arrives for a while (the wait times out with 258).
  bool Quiet() {
    Completion completion;
    if (port_.Wait(completion, kQuietMs)) return false;
    return GetSystemError() == err::kWaitTimeout;
  }

  // An accepted connection: the server side associated with kConnectionKey, and its client.
  struct Pair {
    SocketHandle server = kInvalidSocket;
    SocketHandle client = kInvalidSocket;
  };
  Pair Connected() {
    Pair pair;
    IoRecord record;
    EXPECT_EQ(BeginAccept(record), 0u);
    pair.client = Connect();
    const Completion done = Next();
    EXPECT_TRUE(done.ok);
    EXPECT_EQ(done.overlapped, &record.overlapped);
    pair.server = Own(record.accepted);
    EXPECT_TRUE(port_.Associate(pair.server, kConnectionKey)) << GetSystemError();
    return pair;
  }

  CompletionPort port_;
  SocketHandle listener_ = kInvalidSocket;
  SockAddr listenAddress_{};
  uint16_t family_ = kFamilyInet;
  AcceptFunctions functions_;

 private:
  std::vector<SocketHandle> owned_;
};

}  // namespace qolv::platform::testing

#pragma once
// A server of the engine on a loopback address with a recording listener, for tests that drive
// it with real clients.
#include <gtest/gtest.h>

#include <memory>

#include "net/tcp_pull_server.h"
#include "net/tcp_server.h"
#include "platform/clock.h"
#include "platform/system_error.h"
#include "recording_listener.h"
#include "test_client.h"

namespace qolv::net::testing {

template <typename Server>
class EngineFixtureT : public ::testing::Test {
 protected:
  void TearDown() override {
    if (server_->GetServerState() == ServerState::Started) {
      EXPECT_TRUE(server_->Stop());
    }
  }

  // Starts on the loopback address of the family with a port the system picks.
  bool Start(const char* address = "127.0.0.1") {
    if (!server_->Start(address, 0)) {
      ADD_FAILURE() << "Start failed: " << server_->GetLastErrorText() << ", " << platform::GetSystemError();
      return false;
    }
    char text[64];
    int length = sizeof text;
    EXPECT_TRUE(server_->GetListenAddress(text, length, port_));
    return port_ != 0;
  }

  // A client connected to the server, and the id the server gave it once it is ready.
  std::unique_ptr<TestClient> Connect(uint32_t& id, uint16_t family = platform::kFamilyInet) {
    const int before = listener_.Count(EventKind::Ready);
    auto client = std::make_unique<TestClient>(family);
    EXPECT_EQ(client->Connect(port_), 0u);
    id = listener_.WaitForReady(before);
    EXPECT_NE(id, 0u) << "the connection did not become ready";
    return client;
  }

  // Ids are retired only after OnClose has returned and the socket is closed.
  bool WaitForConnectionCount(uint32_t count) {
    for (uint32_t waited = 0; waited < kPatience; waited += 10) {
      if (server_->CountConnections() == count) return true;
      platform::SleepMs(10);
    }
    return false;
  }

  RecordingListener listener_;
  std::unique_ptr<Server> server_ = std::make_unique<Server>(&listener_);
  uint16_t port_ = 0;
};

using EngineFixture = EngineFixtureT<CTcpServer>;
using PullEngineFixture = EngineFixtureT<CTcpPullServerT<CTcpServer>>;

}  // namespace qolv::net::testing

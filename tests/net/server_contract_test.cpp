#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <type_traits>

#include "net/error_text.h"
#include "net/server_holder.h"
#include "net/server_properties.h"
#include "net/tcp_server_listener.h"
#include "platform/error_codes.h"
#include "platform/process_info.h"
#include "platform/system_error.h"

namespace qolv::net {
namespace {

TEST(ServerErrorText, CodesWithoutATextOfTheirOwnAreUnknown) {
  EXPECT_STREQ(ServerErrorText(ServerError::Success), "SUCCESS");
  EXPECT_STREQ(ServerErrorText(ServerError::AttachSocketFailed), "Attach SOCKET to IOCP Fail");
  EXPECT_STREQ(ServerErrorText(static_cast<ServerError>(9)), "Create Detector Thread Fail");
  EXPECT_STREQ(ServerErrorText(static_cast<ServerError>(101)), "SSL environment not ready");
  EXPECT_STREQ(ServerErrorText(static_cast<ServerError>(15)), "UNKNOWN ERROR");
  EXPECT_STREQ(ServerErrorText(static_cast<ServerError>(-1)), "UNKNOWN ERROR");
}

class ServerPropertiesTest : public ::testing::Test {
 protected:
  // Applies one change to fresh properties and runs the check.
  bool Check(const std::function<void(CServerProperties&)>& change) {
    CServerProperties properties(state_);
    change(properties);
    error_ = ServerError::Success;
    platform::SetSystemError(0);
    return properties.CheckSettings(error_);
  }

  void ExpectRefused(const char* what, const std::function<void(CServerProperties&)>& change) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(Check(change));
    EXPECT_EQ(error_, ServerError::InvalidParameter);
    EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
  }

  void ExpectAccepted(const char* what, const std::function<void(CServerProperties&)>& change) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(Check(change));
    EXPECT_EQ(error_, ServerError::Success);
    EXPECT_EQ(platform::GetSystemError(), 0u);
  }

  std::atomic<ServerState> state_{ServerState::Stopped};
  ServerError error_ = ServerError::Success;
};

TEST_F(ServerPropertiesTest, StartWithTheDocumentedDefaults) {
  CServerProperties p(state_);
  EXPECT_EQ(p.GetAddressReusePolicy(), AddressReusePolicy::None);
  EXPECT_EQ(p.GetSendPolicy(), SendPolicy::Batched);
  EXPECT_EQ(p.GetSendEventLocking(), SendEventLocking::Unlocked);
  EXPECT_EQ(p.GetMaxConnections(), 10000u);
  EXPECT_EQ(p.GetWorkerThreadCount(), std::min(2 * platform::ProcessorCount() + 2, 512u));
  EXPECT_EQ(p.GetListenBacklog(), 0x7FFFFFFF);
  EXPECT_EQ(p.GetPendingAcceptCount(), 300u);
  EXPECT_EQ(p.GetBufferSize(), 4096);
  EXPECT_EQ(p.GetReuseDelay(), 30000u);
  EXPECT_EQ(p.GetConnectionPoolSize(), 600);
  EXPECT_EQ(p.GetBlockPoolSize(), 1024);
  EXPECT_EQ(p.GetConnectionPoolHold(), 600);
  EXPECT_EQ(p.GetBlockPoolHold(), 1024);
  EXPECT_EQ(p.GetKeepAliveTime(), 60000u);
  EXPECT_EQ(p.GetKeepAliveInterval(), 20000u);
  EXPECT_TRUE(p.GetTrackSilence());
  EXPECT_FALSE(p.GetNoDelay());
  ExpectAccepted("defaults", [](CServerProperties&) {});
}

TEST_F(ServerPropertiesTest, SettersActOnlyWhileStopped) {
  CServerProperties p(state_);
  for (ServerState running : {ServerState::Starting, ServerState::Started, ServerState::Stopping}) {
    state_ = running;
    p.SetMaxConnections(5);
    p.SetBufferSize(100);
    p.SetSendPolicy(SendPolicy::Immediate);
    p.SetTrackSilence(false);
    p.SetNoDelay(true);
    p.SetAddressReusePolicy(AddressReusePolicy::Reuse);
    EXPECT_EQ(p.GetMaxConnections(), 10000u);
    EXPECT_EQ(p.GetBufferSize(), 4096);
    EXPECT_EQ(p.GetSendPolicy(), SendPolicy::Batched);
    EXPECT_TRUE(p.GetTrackSilence());
    EXPECT_FALSE(p.GetNoDelay());
    EXPECT_EQ(p.GetAddressReusePolicy(), AddressReusePolicy::None);
  }
  state_ = ServerState::Stopped;
  p.SetMaxConnections(5);
  p.SetBufferSize(100);
  p.SetNoDelay(true);
  EXPECT_EQ(p.GetMaxConnections(), 5u);
  EXPECT_EQ(p.GetBufferSize(), 100);
  EXPECT_TRUE(p.GetNoDelay());
}

TEST_F(ServerPropertiesTest, CheckSettingsRefusesEachValueOutOfRange) {
  ExpectRefused("SendPolicy 3", [](auto& p) { p.SetSendPolicy(static_cast<SendPolicy>(3)); });
  ExpectRefused("SendPolicy -1", [](auto& p) { p.SetSendPolicy(static_cast<SendPolicy>(-1)); });
  ExpectRefused("SendEventLocking 3",
                [](auto& p) { p.SetSendEventLocking(static_cast<SendEventLocking>(3)); });
  ExpectRefused("MaxConnections 0", [](auto& p) { p.SetMaxConnections(0); });
  ExpectRefused("MaxConnections 5000001", [](auto& p) { p.SetMaxConnections(5000001); });
  ExpectRefused("WorkerThreadCount 0", [](auto& p) { p.SetWorkerThreadCount(0); });
  ExpectRefused("WorkerThreadCount 513", [](auto& p) { p.SetWorkerThreadCount(513); });
  ExpectRefused("PendingAcceptCount 0", [](auto& p) { p.SetPendingAcceptCount(0); });
  ExpectRefused("BufferSize 87", [](auto& p) { p.SetBufferSize(87); });
  ExpectRefused("ListenBacklog 0", [](auto& p) { p.SetListenBacklog(0); });
  ExpectRefused("ListenBacklog -1", [](auto& p) { p.SetListenBacklog(-1); });
  ExpectRefused("ReuseDelay 999", [](auto& p) { p.SetReuseDelay(999); });
  ExpectRefused("ConnectionPoolSize -1", [](auto& p) { p.SetConnectionPoolSize(-1); });
  ExpectRefused("BlockPoolSize -1", [](auto& p) { p.SetBlockPoolSize(-1); });
  ExpectRefused("ConnectionPoolHold -1", [](auto& p) { p.SetConnectionPoolHold(-1); });
  ExpectRefused("BlockPoolHold -1", [](auto& p) { p.SetBlockPoolHold(-1); });
  ExpectRefused("KeepAliveTime 999", [](auto& p) { p.SetKeepAliveTime(999); });
  ExpectRefused("KeepAliveInterval 1", [](auto& p) { p.SetKeepAliveInterval(1); });
}

TEST_F(ServerPropertiesTest, CheckSettingsAcceptsTheBoundaries) {
  ExpectAccepted("BufferSize 88", [](auto& p) { p.SetBufferSize(88); });
  ExpectAccepted("KeepAlive off", [](auto& p) {
    p.SetKeepAliveTime(0);
    p.SetKeepAliveInterval(0);
  });
  ExpectAccepted("KeepAlive 1000", [](auto& p) {
    p.SetKeepAliveTime(1000);
    p.SetKeepAliveInterval(1000);
  });
  ExpectAccepted("smallest", [](auto& p) {
    p.SetMaxConnections(1);
    p.SetWorkerThreadCount(1);
    p.SetPendingAcceptCount(1);
    p.SetListenBacklog(1);
    p.SetReuseDelay(1000);
    p.SetConnectionPoolSize(0);
    p.SetBlockPoolSize(0);
    p.SetConnectionPoolHold(0);
    p.SetBlockPoolHold(0);
  });
  ExpectAccepted("largest", [](auto& p) {
    p.SetMaxConnections(5000000);
    p.SetWorkerThreadCount(512);
    p.SetSendPolicy(SendPolicy::Immediate);
    p.SetSendEventLocking(SendEventLocking::UnderReceiveLock);
  });
  // Checked when the listen socket is made, not here.
  ExpectAccepted("AddressReusePolicy 7",
                 [](auto& p) { p.SetAddressReusePolicy(static_cast<AddressReusePolicy>(7)); });
}

// Small stand-ins for the server's two interfaces and its engine base class.
class IFirst {
 public:
  virtual int First() = 0;
  virtual ~IFirst() = default;
};

class ISecond {
 public:
  virtual int Second() = 0;
  virtual ~ISecond() = default;
};

class Engine : public virtual ISecond {
 public:
  int Second() override { return 2; }
};

int g_destroyed = 0;

class Both : public DualInterface<IFirst, ISecond>, public Engine {
 public:
  int First() override { return 1; }
  ~Both() override { ++g_destroyed; }
};

struct BothCreator {
  static DualInterface<IFirst, ISecond>* Create(int* listener) {
    ++*listener;
    return new Both;
  }
  static void Release(DualInterface<IFirst, ISecond>* object) { delete object; }
};

// The pull listener base leaves exactly the application's events open.
static_assert(std::is_abstract_v<CTcpPullServerListener> &&
              std::is_base_of_v<ITcpServerListener, CTcpPullServerListener>);

TEST(ServerHolder, OwnsOneObjectSeenThroughBothInterfaces) {
  g_destroyed = 0;
  int created = 0;
  {
    ServerHolder<DualInterface<IFirst, ISecond>, int, BothCreator> holder(&created);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(holder->First(), 1);
    EXPECT_EQ(holder->Second(), 2);
    // An event hands out the second interface; the first is reached from it by a cross-cast.
    ISecond* second = holder.Get();
    IFirst* first = dynamic_cast<IFirst*>(second);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(static_cast<void*>(first), static_cast<void*>(holder.Get()));
  }
  EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
}  // namespace qolv::net

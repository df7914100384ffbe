// Start and Stop of the engine: their fixed orders, their refusals and their failure paths.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "net/io_block.h"
#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/socket_types.h"
#include "support/net/engine_fixture.h"
#include "support/net/engine_seams.h"

namespace qolv::net::testing {
namespace {

using Lifecycle = EngineFixture;

// Polls until the flag is set; false after limitMs.
bool WaitFor(const std::atomic<bool>& flag, uint32_t limitMs = kPatience) {
  for (uint32_t waited = 0; waited < limitMs && !flag; waited += 5) platform::SleepMs(5);
  return flag.load();
}

// The operation of the I/O completion, or None for a posted packet.
SocketOp OperationOf(const platform::Completion& completion) {
  return completion.overlapped != nullptr ? CIoBlock::FromOverlapped(completion.overlapped)->operation
                                          : SocketOp::None;
}

// Runs Stop on another thread. A stop that does not end cannot be cleaned up after, so past a
// generous limit the program ends with the failure.
void StopWithinLimit(ITcpServer& server) {
  std::atomic<bool> ended{false};
  std::thread stopper([&] {
    EXPECT_TRUE(server.Stop());
    ended = true;
  });
  if (!WaitFor(ended, 60000)) {
    ADD_FAILURE() << "Stop did not end within 60 s";
    std::fflush(stdout);
    std::_Exit(1);
  }
  stopper.join();
}

std::string ListenAddressOf(CTcpServer& server, int& length, uint16_t& port) {
  char text[64] = {};
  length = sizeof text;
  if (!server.GetListenAddress(text, length, port)) return "<none>";
  return text;
}

TEST_F(Lifecycle, StartServesUntilStopAndEachIsRefusedInTheWrongState) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(server_->GetServerState(), ServerState::Started);
  EXPECT_TRUE(server_->IsRunning());
  EXPECT_EQ(listener_.Count(EventKind::PrepareListen), 1);
  int length = 0;
  uint16_t port = 0;
  EXPECT_EQ(ListenAddressOf(*server_, length, port), "127.0.0.1");
  EXPECT_EQ(length, 10);
  EXPECT_EQ(port, port_);
  EXPECT_FALSE(server_->WaitStopped(0));
  EXPECT_EQ(platform::GetSystemError(), err::kWaitTimeout);

  EXPECT_FALSE(server_->Start("127.0.0.1", 0));
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::IllegalState);
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidState);
  EXPECT_STREQ(server_->GetLastErrorText(), "Illegal State");
  EXPECT_EQ(server_->GetServerState(), ServerState::Started);

  ASSERT_TRUE(server_->Stop());
  EXPECT_EQ(server_->GetServerState(), ServerState::Stopped);
  EXPECT_FALSE(server_->IsRunning());
  EXPECT_EQ(listener_.Count(EventKind::Shutdown), 1);
  EXPECT_TRUE(server_->WaitStopped(0));
  EXPECT_EQ(ListenAddressOf(*server_, length, port), "<none>");

  platform::SetSystemError(0);
  EXPECT_FALSE(server_->Stop());
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::IllegalState);
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidState);
  EXPECT_EQ(listener_.Count(EventKind::Shutdown), 1);
}

TEST_F(Lifecycle, SettersActOnlyWhileStopped) {
  ASSERT_TRUE(Start());
  server_->SetBufferSize(1000);
  server_->SetMaxConnections(7);
  server_->SetSendPolicy(SendPolicy::Immediate);
  server_->SetPendingAcceptCount(3);
  EXPECT_EQ(server_->GetBufferSize(), 4096);
  EXPECT_EQ(server_->GetMaxConnections(), 10000u);
  EXPECT_EQ(server_->GetSendPolicy(), SendPolicy::Batched);
  EXPECT_EQ(server_->GetPendingAcceptCount(), 300u);
  ASSERT_TRUE(server_->Stop());
  server_->SetBufferSize(1000);
  EXPECT_EQ(server_->GetBufferSize(), 1000);
}

TEST_F(Lifecycle, RefusedSettingsLeaveTheServerUntouched) {
  server_->SetBufferSize(87);
  platform::SetSystemError(0);
  EXPECT_FALSE(server_->Start("127.0.0.1", 0));
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::InvalidParameter);
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
  EXPECT_EQ(server_->GetServerState(), ServerState::Stopped);
  EXPECT_TRUE(listener_.Events().empty()) << "a start refused by its checks must raise nothing";

  server_->SetBufferSize(88);
  ASSERT_TRUE(Start());
  // A successful start does not clear the last failure.
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::InvalidParameter);
}

TEST_F(Lifecycle, BusyPortFailsToBindAndShutsDownOnce) {
  ASSERT_TRUE(Start());
  RecordingListener otherListener;
  CTcpServer other(&otherListener);
  EXPECT_FALSE(other.Start("127.0.0.1", port_));
  EXPECT_EQ(other.GetLastErrorCode(), ServerError::BindSocketFailed);
  EXPECT_STREQ(other.GetLastErrorText(), "Bind SOCKET Fail");
  EXPECT_EQ(platform::GetSystemError(), err::kWsaAddressInUse);
  EXPECT_EQ(other.GetServerState(), ServerState::Stopped);
  EXPECT_EQ(otherListener.Count(EventKind::PrepareListen), 0);
  EXPECT_EQ(otherListener.Count(EventKind::Shutdown), 1);
  EXPECT_TRUE(other.WaitStopped(0));
  // The failed start gave back what it took: the same object starts elsewhere.
  EXPECT_TRUE(other.Start("127.0.0.1", 0));
  EXPECT_TRUE(other.Stop());
}

TEST_F(Lifecycle, FailedListenSocketStepsEachStopTheServer) {
  EXPECT_FALSE(server_->Start("256.0.0.1", 0));
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::CreateSocketFailed);
  EXPECT_EQ(platform::GetSystemError(), err::kWsaAddressNotAvailable);

  // An out-of-range address policy fails the start instead of ending the process.
  server_->SetAddressReusePolicy(static_cast<AddressReusePolicy>(3));
  EXPECT_FALSE(server_->Start("127.0.0.1", 0));
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::CreateSocketFailed);
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
  server_->SetAddressReusePolicy(AddressReusePolicy::None);

  listener_.onPrepareListen = [](ITcpServer*, platform::SocketHandle) {
    platform::SetSystemError(0);
    return EventResult::Error;
  };
  EXPECT_FALSE(server_->Start("127.0.0.1", 0));
  EXPECT_EQ(server_->GetLastErrorCode(), ServerError::PrepareSocketFailed);
  EXPECT_EQ(platform::GetSystemError(), err::kCancelled);
  listener_.onPrepareListen = [](ITcpServer*, platform::SocketHandle) {
    platform::SetSystemError(err::kAccessDenied);
    return EventResult::Error;
  };
  EXPECT_FALSE(server_->Start("127.0.0.1", 0));
  EXPECT_EQ(platform::GetSystemError(), err::kAccessDenied);

  EXPECT_EQ(listener_.Count(EventKind::Shutdown), 4);
  EXPECT_EQ(listener_.Count(EventKind::PrepareListen), 2);
  EXPECT_EQ(server_->GetServerState(), ServerState::Stopped);
}

TEST_F(Lifecycle, StopClosesEveryConnectionBeforeTheShutdown) {
  ASSERT_TRUE(Start());
  uint32_t ids[3] = {};
  std::unique_ptr<TestClient> clients[3];
  for (int i = 0; i < 3; ++i) clients[i] = Connect(ids[i]);
  ASSERT_TRUE(server_->Stop());

  const std::vector<Event> events = listener_.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, EventKind::Shutdown);
  for (uint32_t id : ids) {
    const std::vector<Event> mine = listener_.EventsOf(id);
    ASSERT_FALSE(mine.empty());
    EXPECT_EQ(mine.back().kind, EventKind::Close);
    EXPECT_EQ(mine.back().operation, SocketOp::Close);
    EXPECT_EQ(mine.back().error, 0u);
  }
  for (auto& client : clients) EXPECT_TRUE(client->WaitClosed());
  EXPECT_EQ(server_->CountConnections(), 0u);
}

TEST_F(Lifecycle, RestartIssuesIdsFromOneAgain) {
  ASSERT_TRUE(Start());
  uint32_t first = 0;
  uint32_t second = 0;
  auto a = Connect(first);
  auto b = Connect(second);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  ASSERT_TRUE(server_->Stop());
  ASSERT_TRUE(Start());
  uint32_t again = 0;
  auto c = Connect(again);
  EXPECT_EQ(again, 1u);
}

TEST_F(Lifecycle, WaitStoppedOnAnotherThreadReturnsOnceStopHasFinished) {
  ASSERT_TRUE(Start());
  std::atomic<bool> returned{false};
  std::atomic<bool> result{false};
  std::thread waiter([&] {
    result = server_->WaitStopped(platform::kInfinite);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned) << "WaitStopped returned while the server still ran";
  ASSERT_TRUE(server_->Stop());
  waiter.join();
  EXPECT_TRUE(result);
}

// A Stop that came between the state turning Started and the reset of the stop event would leave
// a stopped server whose WaitStopped never returns.
TEST_F(Lifecycle, TheStopEventIsResetBeforeAStopCanRun) {
  EngineSeams seams;
  std::atomic<bool> hookRan{false};
  std::atomic<bool> stoppedInTheGap{false};
  seams.OnStopEventReset([&] {
    stoppedInTheGap = server_->Stop();
    hookRan = true;
  });
  ASSERT_TRUE(server_->Start("127.0.0.1", 0));
  EXPECT_TRUE(hookRan);
  EXPECT_FALSE(stoppedInTheGap) << "a Stop ran before the stop event was reset";
  EXPECT_EQ(server_->WaitStopped(0), server_->GetServerState() == ServerState::Stopped);
  if (server_->GetServerState() == ServerState::Started) {
    ASSERT_TRUE(server_->Stop());
  }
  EXPECT_TRUE(server_->WaitStopped(0));
}

// An accept that passed its running test just before the stop began enters its connection after
// the accept wait has given up on it and after the wait for the connections to close has ended:
// the stop must still wait for the receive it posts, rather than leave its heap behind.
TEST_F(Lifecycle, AConnectionEnteredLateInTheStopIsClosedBeforeTheShutdown) {
  server_->SetPendingAcceptCount(4);
  EngineSeams seams;
  std::atomic<bool> disconnecting{false};
  seams.Withhold([&](const platform::Completion& completion) {
    if (completion.overlapped == nullptr && completion.bytes == CTcpServer::DisconnectCommand) disconnecting = true;
    return false;
  });
  ASSERT_TRUE(Start());
  uint32_t first = 0;
  auto early = Connect(first);
  std::atomic<bool> held{false};
  seams.OnNextAccept([&] {
    held = true;
    WaitFor(disconnecting, 60000);
    listener_.WaitForClose(first);
    // Several of the stop's polling rounds, so that it has seen no connection left.
    platform::SleepMs(300);
  });
  TestClient late;
  ASSERT_EQ(late.Connect(port_), 0u);
  ASSERT_TRUE(WaitFor(held));

  StopWithinLimit(*server_);
  ASSERT_EQ(listener_.Count(EventKind::Ready), 2);
  const uint32_t second = listener_.AcceptedId(1);
  for (uint32_t id : {first, second}) {
    const std::vector<Event> events = listener_.EventsOf(id);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, EventKind::Close) << "connection " << id;
  }
  EXPECT_EQ(listener_.Events().back().kind, EventKind::Shutdown);
  EXPECT_TRUE(late.WaitClosed());
  EXPECT_EQ(seams.AbandonedHeaps(), 0);
  EXPECT_TRUE(server_->WaitStopped(0));
  ASSERT_TRUE(Start());
  uint32_t again = 0;
  auto next = Connect(again);
  EXPECT_EQ(again, 1u);
}

// Completions a port never delivers: the accepts of the closed listen socket, or a closed
// connection's receive that only comes late. Either way the stop ends, and a heap is left to the
// operations only while one of them may still write into it.
struct WithheldCase {
  const char* name;
  SocketOp operation;  // withheld when it completes with an error
  bool deliveredLate;  // handed over once the connections are closed
  int abandonedHeaps;
};

class WithheldCompletions : public EngineFixture, public ::testing::WithParamInterface<WithheldCase> {};

TEST_P(WithheldCompletions, StopEndsAndTheServerStartsAgain) {
  const WithheldCase& param = GetParam();
  server_->SetPendingAcceptCount(4);
  // One worker, and a close that outlasts the accept wait's bound: the wait for the operations
  // has a bound of its own.
  server_->SetWorkerThreadCount(1);
  EngineSeams seams;
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  listener_.onClose = [&](ITcpServer*, uint32_t, SocketOp, uint32_t) {
    if (param.deliveredLate) platform::SleepMs(5500);
  };
  seams.Withhold([&](const platform::Completion& completion) {
    return !completion.ok && OperationOf(completion) == param.operation;
  });
  std::atomic<bool> closed{false};
  std::thread deliverer([&] {
    if (!param.deliveredLate) return;
    for (uint32_t waited = 0; waited < 60000 && listener_.Count(EventKind::Close) == 0; waited += 10) {
      platform::SleepMs(10);
    }
    // After the close's socket is gone, its receive's completion comes a little late.
    platform::SleepMs(300);
    closed = true;
    seams.ReleaseWithheld();
  });
  StopWithinLimit(*server_);
  deliverer.join();

  EXPECT_EQ(closed, param.deliveredLate);
  // The stop met what the case is about: every accept of the closed listen socket kept back, or
  // the late receive handed over.
  EXPECT_EQ(seams.WithheldCount(), param.deliveredLate ? 0 : 4);
  const std::vector<Event> events = listener_.EventsOf(id);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, EventKind::Close);
  EXPECT_EQ(events.back().operation, SocketOp::Close);
  EXPECT_EQ(listener_.Count(EventKind::Shutdown), 1);
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_EQ(seams.AbandonedHeaps(), param.abandonedHeaps);
  EXPECT_EQ(server_->GetServerState(), ServerState::Stopped);
  EXPECT_TRUE(server_->WaitStopped(0));

  listener_.onClose = nullptr;
  seams.Withhold(nullptr);
  ASSERT_TRUE(Start());
  uint32_t again = 0;
  auto next = Connect(again);
  EXPECT_EQ(again, 1u);
  const std::string hello = "hello";
  ASSERT_TRUE(next->Send(hello));
  EXPECT_TRUE(listener_.WaitForReceived(again, hello.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, WithheldCompletions,
    ::testing::Values(WithheldCase{"AcceptsLost", SocketOp::Accept, false, 1},
                      WithheldCase{"ReceiveLateAfterASlowClose", SocketOp::Receive, true, 0}),
    [](const ::testing::TestParamInfo<WithheldCase>& info) { return std::string(info.param.name); });

TEST_F(Lifecycle, StopFromInsideAnEventIsRefused) {
  std::atomic<bool> stopped{true};
  std::atomic<uint32_t> error{0};
  listener_.onReady = [&](ITcpServer* server, uint32_t) {
    stopped = server->Stop();
    error = platform::GetSystemError();
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(error, err::kInvalidState);
  EXPECT_EQ(server_->GetServerState(), ServerState::Started);
}

// Counts the worker threads through the hooks a derived server has.
class CountingServer : public CTcpServer {
 public:
  using CTcpServer::CTcpServer;
  std::atomic<int> started{0};
  std::atomic<int> ended{0};

 protected:
  void WorkerStarted(uint32_t) override { ++started; }
  void WorkerEnded(uint32_t) override { ++ended; }
};

TEST(LifecycleWorkers, StartRunsTheConfiguredWorkersAndStopEndsThem) {
  RecordingListener listener;
  CountingServer server(&listener);
  server.SetWorkerThreadCount(3);
  ASSERT_TRUE(server.Start("127.0.0.1", 0));
  ASSERT_TRUE(server.Stop());
  EXPECT_EQ(server.started, 3);
  EXPECT_EQ(server.ended, 3);
}

TEST_F(Lifecycle, ServesTheIpv6Loopback) {
  ASSERT_TRUE(Start("::1"));
  int length = 0;
  uint16_t port = 0;
  EXPECT_EQ(ListenAddressOf(*server_, length, port), "::1");
  EXPECT_EQ(length, 4);
  uint32_t id = 0;
  auto client = Connect(id, platform::kFamilyInet6);
  char text[64] = {};
  length = sizeof text;
  ASSERT_TRUE(server_->GetRemoteAddress(id, text, length, port));
  EXPECT_STREQ(text, "::1");
  EXPECT_EQ(port, client->LocalPort());
  ASSERT_TRUE(client->Send("six"));
  EXPECT_TRUE(listener_.WaitForReceived(id, 3));
  EXPECT_EQ(listener_.Received(id), "six");
}

}  // namespace
}  // namespace qolv::net::testing

// The built service run as a foreground process on Linux, as systemd runs it: its status reports
// seen through a notify socket the test opens, its log beside the executable, answers on port
// 9199, and SIGTERM. The process is ended by the test in every case (killed by the child's
// owner when a check fails first).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/process_spawn.h"
#include "platform/service_notify_listener.h"
#include "platform/socket_io.h"
#include "support/request/frame_client.h"
#include "support/service/proxy_process.h"

namespace qolv::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kStartPending[] = "STATUS=start pending (2), exit code 0, checkpoint 1\n";
constexpr char kRunning[] = "READY=1\nSTATUS=running (4), exit code 0, checkpoint 0\n";
constexpr char kStopPendingFirst[] = "STOPPING=1\nSTATUS=stop pending (3), exit code 0, checkpoint 2\n";
constexpr char kStopPendingSecond[] = "STOPPING=1\nSTATUS=stop pending (3), exit code 0, checkpoint 3\n";
constexpr char kStopped[] = "STOPPING=1\nSTATUS=stopped (1), exit code 0, checkpoint 0\n";

// How long a stop waits for an SDK call in progress.
constexpr uint32_t kWorkerStopLimitMs = 20000;

constexpr char kSessionStart[] =
    "QolvPrinterProxy=== >>>>>>>>>>>> SESSION START: DBG_LEVEL:31 >>>>>>>>>>>>\r\n";
constexpr char kBanner[] =
    "QolvPrinterProxy*** **************** QolvPrinterProxy Start, Version=1.0.0.8191 *************\r\n";
constexpr char kSessionFinish[] =
    "QolvPrinterProxy=== <<<<<<<<<<<< SESSION FINISH: DBG_LEVEL:31 <<<<<<<<<<<<\r\n\r\n";

// The service executable running with a notify socket of the test's own.
class ServiceProcess {
 public:
  explicit ServiceProcess(const fs::path& executable) : ServiceProcess(executable.string(), {}) {}
  ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                 std::vector<std::string> environment = {}) {
    const fs::path socket = folder_.path() / "notify";
    if (!listener_.Open(socket.string())) return;
    platform::SpawnOptions options;
    options.environment = std::move(environment);
    options.environment.push_back("NOTIFY_SOCKET=" + socket.string());
    started_ = child_.Start(program, arguments, options);
  }

  bool started() const { return started_; }

  std::string NextReport() {
    std::string message;
    return listener_.Receive(message, kServicePatienceMs) ? message : "(no report came)";
  }

  // SIGTERM, then the end of the process.
  bool Stop() { return child_.RequestStop() && child_.Wait(kServicePatienceMs); }
  // SIGTERM alone, for a stop whose reports must be read while it goes on (the notify socket
  // holds only a few).
  bool RequestStop() { return child_.RequestStop(); }
  // The end of a process that ends by itself.
  bool Ended() { return child_.Wait(kServicePatienceMs); }
  const platform::ChildExit& exit() const { return child_.exit(); }
  std::string StandardOutput() const { return child_.StandardOutput(); }

 private:
  ScratchFolder folder_;
  platform::ServiceNotifyListener listener_;
  // Declared last: a child still running when a check failed is killed before the rest goes.
  platform::ChildProcess child_;
  bool started_ = false;
};

class ForegroundService : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ServicePortInUse()) GTEST_SKIP() << "port 9199 is held by another program";
  }

  // Runs up to the running report.
  void ExpectStartReports(ServiceProcess& service) {
    ASSERT_TRUE(service.started());
    EXPECT_EQ(service.NextReport(), kStartPending);
    EXPECT_EQ(service.NextReport(), kRunning);
  }

  // Whether the service listens. Another program may take the port between the check in SetUp
  // and the service's start; the test cannot go on then.
  static bool Listening(const LogWatch& log) {
    const int seen = log.WaitForAny({kListeningLine, kStartFailedLine});
    EXPECT_NE(seen, -1) << log.NewText();
    return seen == 0;
  }

  // SIGTERM, the stop reports and exit code 0.
  void ExpectStop(ServiceProcess& service) {
    ASSERT_TRUE(service.Stop());
    EXPECT_EQ(service.NextReport(), kStopPendingFirst);
    // Sent by the session once its stop steps are done.
    EXPECT_EQ(service.NextReport(), kStopPendingSecond);
    EXPECT_EQ(service.NextReport(), kStopped);
    EXPECT_TRUE(service.exit().exited);
    EXPECT_EQ(service.exit().exitCode, 0u);
  }
};

TEST_F(ForegroundService, StartsAnswersThroughTheSdkAndStopsInOrder) {
  const LogWatch log(BuiltService());
  ServiceProcess service(BuiltService());
  ASSERT_NO_FATAL_FAILURE(ExpectStartReports(service));
  if (!Listening(log)) GTEST_SKIP() << "another program took port 9199 first";

  const ServiceAnswers answers = AskHeartbeatAndPrinterList();
  ASSERT_TRUE(answers.ok);
  ExpectSampleSdkAnswers(answers, log.NewText());

  ASSERT_NO_FATAL_FAILURE(ExpectStop(service));
  EXPECT_EQ(service.StandardOutput(), "");
  const std::string text = log.NewText();
  // The session's first line is an empty one.
  EXPECT_EQ(text.rfind("\r\n", 0), 0u) << text;
  EXPECT_EQ(FirstOutOfOrder(
                text, {kSessionStart, kBanner,
                       "LoadLibrary QolvTovuWindowsSDK.so success, path=" + BuiltSdk().string() + ",",
                       kListeningLine, "TcpService OnAccept: connid=", LoggedSdkAnswer(answers.list.body),
                       "TcpService OnShutdown, port=9199\r\n", kSessionFinish}),
            "")
      << text;
}

TEST_F(ForegroundService, AStopWhileThePortIsTakenStillRunsTheStopSteps) {
  const platform::SocketHandle holder = platform::CreateStreamSocket(platform::kFamilyInet);
  ASSERT_NE(holder, platform::kInvalidSocket);
  platform::SockAddr address{};
  ASSERT_EQ(platform::TextToAddress("127.0.0.1", platform::kFamilyInet, address), 0u);
  platform::SetAddressPort(address, kServicePort);
  // Connections of the test before may still linger on the port; they must not keep it from
  // being taken.
  platform::SetReuseAddress(holder, true);
  if (platform::BindSocket(holder, address) != 0 || platform::ListenSocket(holder, 1) != 0) {
    platform::CloseSocket(holder);
    GTEST_SKIP() << "port 9199 could not be taken";
  }

  const LogWatch log(BuiltService());
  ServiceProcess service(BuiltService());
  ASSERT_NO_FATAL_FAILURE(ExpectStartReports(service));
  EXPECT_TRUE(log.WaitFor(kStartFailedLine));
  ASSERT_NO_FATAL_FAILURE(ExpectStop(service));
  platform::CloseSocket(holder);
  EXPECT_EQ(FirstOutOfOrder(log.NewText(), {kSessionStart, kBanner, kStartFailedLine, kSessionFinish}), "")
      << log.NewText();
}

// The log lines also go to standard error. Here it is a pipe whose reader has ended (as a tee
// ended by the same Ctrl-C would be): bash waits for the reader's end, then becomes the service.
TEST_F(ForegroundService, AStandardErrorWithoutReaderDoesNotEndIt) {
  const LogWatch log(BuiltService());
  ServiceProcess service("/bin/bash",
                         {"-c", "exec 2> >(true); wait $!; exec \"$0\"", BuiltService().string()});
  ASSERT_NO_FATAL_FAILURE(ExpectStartReports(service));
  if (!Listening(log)) GTEST_SKIP() << "another program took port 9199 first";
  ASSERT_NO_FATAL_FAILURE(ExpectStop(service));
  EXPECT_EQ(FirstOutOfOrder(log.NewText(), {kSessionStart, kBanner, kListeningLine, kSessionFinish}), "")
      << log.NewText();
}

// An SDK call that never returns cannot hold the stop: after its limit the service names the call,
// leaves the SDK loaded and initialised, finishes, reports stopped and ends with exit code 0.
TEST_F(ForegroundService, AStopWaitsForAStuckSdkCallOnlyUpToItsLimit) {
  const ScratchFolder folder;
  const fs::path copy = CopyServiceWithFakeSdk(folder);
  const LogWatch log(copy);
  ServiceProcess service(copy);
  ASSERT_NO_FATAL_FAILURE(ExpectStartReports(service));
  if (!Listening(log)) GTEST_SKIP() << "another program took port 9199 first";
  FrameClient client(kServicePort);
  ASSERT_TRUE(client.Send(StuckSdkCallFrames()));
  const std::vector<Answer> answers = client.Read(1);
  ASSERT_EQ(answers.size(), 1u) << log.NewText();
  EXPECT_EQ(answers[0].body, "ok");

  const uint32_t stopStart = platform::TickCount();
  ASSERT_TRUE(service.RequestStop());
  EXPECT_EQ(service.NextReport(), kStopPendingFirst);
  // While the stop waits, stop pending again about every second; then the session's own and stopped.
  int pending = 0;
  std::string report = service.NextReport();
  for (; pending < 100 && report.find("STATUS=stop pending (3)") != std::string::npos; ++pending) {
    report = service.NextReport();
  }
  EXPECT_GE(pending, 3) << report;
  EXPECT_EQ(report, kStopped);
  ASSERT_TRUE(service.Ended());
  EXPECT_GE(platform::TickCount() - stopStart, kWorkerStopLimitMs);
  EXPECT_TRUE(service.exit().exited);
  EXPECT_EQ(service.exit().exitCode, 0u);
  EXPECT_EQ(
      FirstOutOfOrder(log.NewText(), {kListeningLine,
                                      "QolvPrinterProxy@@@ TaskWorker did not stop within 20000 ms, SDK "
                                      "call in progress: method=addPrinterProxy; UninitQolvTovuSDK and the "
                                      "unload are skipped\r\n",
                                      "TcpService OnShutdown, port=9199\r\n", kSessionFinish}),
      "")
      << log.NewText();
}

// A session whose task workers cannot all start (here the test service running the real session,
// allowed two threads) says so, runs its stop steps and ends the process as a failure, without
// a stopped report, so that systemd restarts it.
TEST_F(ForegroundService, FewerThanFourTaskWorkersFailTheService) {
  const ScratchFolder folder;
  const fs::path copy = CopyServiceWithFakeSdk(folder, BuiltTestService());
  const LogWatch log(copy);
  ServiceProcess service(copy.string(), {}, {"QOLV_TEST_PROXY_SESSION=1", "QOLV_TEST_WORKER_THREADS=2"});
  ASSERT_NO_FATAL_FAILURE(ExpectStartReports(service));
  if (!Listening(log)) GTEST_SKIP() << "another program took port 9199 first";
  ASSERT_TRUE(service.Ended());
  EXPECT_TRUE(service.exit().exited);
  EXPECT_EQ(service.exit().exitCode, 1u);
  EXPECT_EQ(FirstOutOfOrder(
                log.NewText(),
                {kListeningLine,
                 "QolvPrinterProxy@@@ TaskWorker Start failed: 2 of 4 worker threads could be created\r\n",
                 "TcpService OnShutdown, port=9199\r\n", kSessionFinish}),
            "")
      << log.NewText();
}

TEST_F(ForegroundService, WithoutTheSdkLibraryItRunsAndAnswersSdkUnavailable) {
  // A copy of the executable in a folder of its own, without the library beside it.
  const ScratchFolder folder;
  const fs::path copy = folder.path() / BuiltService().filename();
  fs::copy_file(BuiltService(), copy);
  fs::permissions(copy, fs::perms::owner_all);

  const LogWatch log(copy);
  ServiceProcess service(copy);
  ASSERT_NO_FATAL_FAILURE(ExpectStartReports(service));
  if (!Listening(log)) GTEST_SKIP() << "another program took port 9199 first";
  const ServiceAnswers answers = AskHeartbeatAndPrinterList();
  ASSERT_TRUE(answers.ok);
  EXPECT_EQ(answers.heartbeat.Type(), TPMT_ACK_HEART_BEAT);
  EXPECT_EQ(answers.list.Type(), TPMT_RESPONSE_API);
  EXPECT_EQ(answers.list.body, R"({"result":0,"errCode":"3","errMsg":"sdk unavailable","data":""})");

  ASSERT_NO_FATAL_FAILURE(ExpectStop(service));
  const std::string missing = (folder.path() / platform::kSdkLibraryFileName).string();
  EXPECT_EQ(FirstOutOfOrder(
                log.NewText(),
                {kBanner, "LoadLibrary QolvTovuWindowsSDK.so error, path=" + missing + ", error=126\r\n",
                 kListeningLine, "TcpService OnShutdown, port=9199\r\n", kSessionFinish}),
            "")
      << log.NewText();
}

}  // namespace
}  // namespace qolv::testing

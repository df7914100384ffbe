// The service's start, stop and shutdown hooks around the session routine, with session steps of
// the test's own that record when they run, can hold the start and can fail, and status reports,
// event-log entries and the end of the process caught by the platform's test hooks.
#include "service/service_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/process_info.h"
#include "platform/service_control.h"
#include "support/seams/platform_seams.h"

namespace qolv {
namespace {

constexpr int kPatienceSteps = 3000;  // at 10 ms: 30 s

// Everything the session and the hooks did, in the order it happened.
struct Journal {
  std::mutex mutex;
  std::vector<std::string> entries;
  std::vector<platform::ServiceStatus> statuses;
  std::vector<std::string> events;
  uint32_t sessionThread = 0;
  // What the steps do: whether the start works, how often the stop says it still waits, and
  // whether the stop leaves nothing running.
  bool startWorks = true;
  int stopWaits = 0;
  bool stopClean = true;

  void Add(const std::string& entry) {
    std::lock_guard lock(mutex);
    entries.push_back(entry);
  }
  bool Has(const std::string& entry) {
    std::lock_guard lock(mutex);
    for (const std::string& e : entries) {
      if (e == entry) return true;
    }
    return false;
  }
  bool WaitFor(const std::string& entry) {
    for (int i = 0; i < kPatienceSteps; ++i) {
      if (Has(entry)) return true;
      platform::SleepMs(10);
    }
    return false;
  }
  std::vector<std::string> Entries() {
    std::lock_guard lock(mutex);
    return entries;
  }
};

Journal* g_journal = nullptr;

void RecordStatus(const platform::ServiceStatus& status) {
  std::lock_guard lock(g_journal->mutex);
  g_journal->statuses.push_back(status);
  g_journal->entries.push_back("status " + std::to_string(status.currentState));
}

void RecordEnd(uint32_t exitCode) { g_journal->Add("end " + std::to_string(exitCode)); }

void RecordEvent(const char*, uint16_t type, const char* const* strings, uint16_t count) {
  std::lock_guard lock(g_journal->mutex);
  std::string event = std::to_string(type);
  for (uint16_t i = 0; i < count; ++i) event += std::string("|") + strings[i];
  g_journal->events.push_back(event);
}

// Session steps whose start waits until the test opens the gate.
class GatedSteps : public ISessionSteps {
 public:
  GatedSteps(std::shared_ptr<Journal> journal, std::shared_ptr<std::atomic<bool>> gate)
      : journal_(std::move(journal)), gate_(std::move(gate)) {}

  bool Start() override {
    {
      std::lock_guard lock(journal_->mutex);
      journal_->sessionThread = platform::CurrentThreadId();
    }
    journal_->Add("start");
    for (int i = 0; i < kPatienceSteps && !gate_->load(); ++i) platform::SleepMs(10);
    journal_->Add("started");
    return journal_->startWorks;
  }
  bool Stop(const StopProgress& stillStopping) override {
    journal_->Add("stop");
    for (int i = 0; i < journal_->stopWaits; ++i) stillStopping();
    return journal_->stopClean;
  }

 private:
  std::shared_ptr<Journal> journal_;
  std::shared_ptr<std::atomic<bool>> gate_;
};

class CTestMonitor : public CServiceMonitor {
 public:
  using CServiceMonitor::ControlHandler;
  using CServiceMonitor::CServiceMonitor;
  using CServiceMonitor::OnServiceStart;
  using CServiceMonitor::ReportStatus;
};

class ServiceMonitorTest : public testing::Test {
 protected:
  void SetUp() override {
    g_journal = journal_.get();
    platform::SetServiceStatusHook(&RecordStatus);
    platform::SetEventLogHook(&RecordEvent);
    platform::SetProcessEndHook(&RecordEnd);
    monitor_ = std::make_unique<CTestMonitor>(std::make_unique<GatedSteps>(journal_, gate_));
    CServiceBase::SetInstance(monitor_.get());
    // The service manager delivers controls to a running service only.
    monitor_->ReportStatus(platform::kServiceRunning);
    journal_->statuses.clear();
    journal_->entries.clear();
  }
  void TearDown() override {
    CServiceBase::SetInstance(nullptr);
    monitor_.reset();
    platform::SetServiceStatusHook(nullptr);
    platform::SetEventLogHook(nullptr);
    platform::SetProcessEndHook(nullptr);
  }

  // The start hook as the service-main calls it; it returns while the session starts up.
  void StartSession() {
    char name[] = "QolvTovuPP";
    char* argv[] = {name, nullptr};
    monitor_->OnServiceStart(1, argv);
    ASSERT_TRUE(journal_->WaitFor("start"));
  }

  std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
  std::shared_ptr<std::atomic<bool>> gate_ = std::make_shared<std::atomic<bool>>(true);
  std::unique_ptr<CTestMonitor> monitor_;
};

TEST_F(ServiceMonitorTest, StopRunsTheStopStepsThenReportsAndReleasesTheStopHook) {
  StartSession();
  ASSERT_TRUE(journal_->WaitFor("started"));
  CTestMonitor::ControlHandler(platform::kControlStop);
  journal_->Add("stop hook returned");
  EXPECT_FALSE(monitor_->WorkLeftRunning());

  EXPECT_NE(journal_->sessionThread, platform::CurrentThreadId());
  // The handler's stop pending, the session's own one after its stop steps, then stopped.
  EXPECT_EQ(journal_->Entries(), (std::vector<std::string>{"start", "started", "status 3", "stop", "status 3",
                                                           "status 1", "stop hook returned"}));
  ASSERT_EQ(journal_->statuses.size(), 3u);
  const uint32_t first = journal_->statuses[0].checkPoint;
  EXPECT_GE(first, 1u);
  EXPECT_EQ(journal_->statuses[1].checkPoint, first + 1);
  EXPECT_EQ(journal_->statuses[2].checkPoint, 0u);
  for (const platform::ServiceStatus& status : journal_->statuses) EXPECT_EQ(status.win32ExitCode, 0u);
  EXPECT_EQ(journal_->events, (std::vector<std::string>{"4|QolvTovuPP|QolvTovuPP start",
                                                        "4|QolvTovuPP|QolvPrinterProxy stop"}));
}

// Stop steps that wait report stop pending each time they say so. Steps that leave work running
// still end with the stopped report and release the stop hook; the monitor then says so, for
// main to end the process at once.
TEST_F(ServiceMonitorTest, AStopThatLeavesWorkRunningStillReportsStoppedAndSaysSo) {
  journal_->stopWaits = 2;
  journal_->stopClean = false;
  StartSession();
  ASSERT_TRUE(journal_->WaitFor("started"));
  EXPECT_FALSE(monitor_->WorkLeftRunning());
  CTestMonitor::ControlHandler(platform::kControlStop);
  EXPECT_TRUE(monitor_->WorkLeftRunning());

  EXPECT_EQ(journal_->Entries(), (std::vector<std::string>{"start", "started", "status 3", "stop", "status 3",
                                                           "status 3", "status 3", "status 1"}));
  std::lock_guard lock(journal_->mutex);
  ASSERT_EQ(journal_->statuses.size(), 5u);
  for (size_t i = 1; i < 4; ++i)
    EXPECT_EQ(journal_->statuses[i].checkPoint, journal_->statuses[0].checkPoint + i);
  EXPECT_EQ(journal_->statuses[4].checkPoint, 0u);
}

// A session that cannot serve runs its stop steps and ends the process as a failure: no stopped
// report, so the service manager sees a service that ended by itself.
TEST_F(ServiceMonitorTest, FailedStartStepsAreFollowedByTheStopStepsAndAFailedEnd) {
  journal_->startWorks = false;
  StartSession();
  ASSERT_TRUE(journal_->WaitFor("end 1"));
  EXPECT_EQ(journal_->Entries(), (std::vector<std::string>{"start", "started", "stop", "end 1"}));
}

TEST_F(ServiceMonitorTest, AStopDuringTheStartStepsIsHonouredOnceTheyAreDone) {
  gate_->store(false);
  StartSession();
  std::atomic<bool> stopReturned{false};
  std::thread dispatcher([&] {
    CTestMonitor::ControlHandler(platform::kControlStop);
    stopReturned = true;
  });
  ASSERT_TRUE(journal_->WaitFor("status 3"));
  platform::SleepMs(300);  // three polls' worth: a stop taken early would show by now
  EXPECT_FALSE(journal_->Has("stop"));
  EXPECT_FALSE(stopReturned.load());
  gate_->store(true);
  dispatcher.join();
  EXPECT_EQ(journal_->Entries(),
            (std::vector<std::string>{"start", "status 3", "started", "stop", "status 3", "status 1"}));
}

// After a shutdown the process exits while the session goes on polling. The shutdown waits for
// the start steps, and the monitor may then go while the session thread keeps running: it reads
// only what it co-owns (the address sanitizer build would report a read of the freed monitor).
// The session thread ends with the test process, as it does with the service's.
TEST_F(ServiceMonitorTest, ShutdownWaitsForTheStartStepsAndLeavesTheSessionWithoutTheMonitor) {
  gate_->store(false);
  StartSession();
  std::atomic<bool> shutdownReturned{false};
  std::thread dispatcher([&] {
    CTestMonitor::ControlHandler(platform::kControlShutdown);
    shutdownReturned = true;
  });
  platform::SleepMs(300);
  EXPECT_FALSE(shutdownReturned.load());
  gate_->store(true);
  dispatcher.join();
  EXPECT_TRUE(journal_->Has("started"));

  CServiceBase::SetInstance(nullptr);
  monitor_.reset();
  platform::SleepMs(500);  // five polls of the session after the monitor went
  EXPECT_EQ(journal_->Entries(), (std::vector<std::string>{"start", "started", "status 1"}));
  ASSERT_EQ(journal_->statuses.size(), 1u);
  EXPECT_EQ(journal_->statuses[0].checkPoint, 0u);
  EXPECT_EQ(journal_->events, (std::vector<std::string>{"4|QolvTovuPP|QolvTovuPP start"}));
}

}  // namespace
}  // namespace qolv

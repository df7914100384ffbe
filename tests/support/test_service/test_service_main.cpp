// A small service run by the end-to-end tests. Its start hook starts a worker thread and its stop
// hook ends it, then sends the second stop-pending report, as the real service's session does.
// Test knobs come from the environment: QOLV_TEST_UNIT_DIR and QOLV_TEST_SYSTEMCTL redirect the
// Linux service manager, QOLV_TEST_EVENTS collects event-log entries in a file, QOLV_TEST_PID_FILE
// receives the process id, and QOLV_TEST_START_FAILURE makes the start hook fail with that code
// (or "other" for a failure without a code). QOLV_TEST_PROXY_SESSION runs the printer proxy's own
// service and session instead, and QOLV_TEST_WORKER_THREADS=N lets only N task-worker threads start.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/engine_process_setup.h"
#include "platform/event_log.h"
#include "platform/process_info.h"
#include "platform/service_control.h"
#include "platform/service_manager.h"
#include "platform/system_error.h"
#include "service/command_line.h"
#include "service/service_base.h"
#include "service/service_error.h"
#include "service/service_monitor.h"
#include "support/request/worker_thread_limit.h"
#include "support/seams/platform_seams.h"

namespace {

using qolv::CServiceBase;

const char* g_eventFile = nullptr;
std::mutex g_eventMutex;

// One line per entry: the type, then the insertion strings, separated by "|".
void AppendEvent(const char*, uint16_t type, const char* const* strings, uint16_t count) {
  std::lock_guard lock(g_eventMutex);
  FILE* file = std::fopen(g_eventFile, "a");
  if (file == nullptr) return;
  std::fprintf(file, "%u", static_cast<unsigned>(type));
  for (uint16_t i = 0; i < count; ++i) std::fprintf(file, "|%s", strings[i]);
  std::fputc('\n', file);
  std::fclose(file);
}

class CTestService : public CServiceBase {
 protected:
  void OnServiceStart(int, char**) override {
    if (const char* failure = std::getenv("QOLV_TEST_START_FAILURE")) {
      if (std::strcmp(failure, "other") == 0) throw std::runtime_error("start failed");
      throw qolv::CServiceError(static_cast<uint32_t>(std::strtoul(failure, nullptr, 0)));
    }
    worker_ = std::thread([done = stop_.get_future()] { done.wait(); });
  }

  void OnServiceStop() override {
    stop_.set_value();
    worker_.join();
    ReportStatus(qolv::platform::kServiceStopPending);
  }

 private:
  std::promise<void> stop_;
  std::thread worker_;
};

}  // namespace

int main(int argc, char** argv) {
  const char* unitFolder = std::getenv("QOLV_TEST_UNIT_DIR");
  const char* systemctl = std::getenv("QOLV_TEST_SYSTEMCTL");
  if (unitFolder != nullptr && systemctl != nullptr)
    qolv::platform::RedirectServiceManager(unitFolder, systemctl);
  if ((g_eventFile = std::getenv("QOLV_TEST_EVENTS")) != nullptr)
    qolv::platform::SetEventLogHook(&AppendEvent);
  if (const char* pidFile = std::getenv("QOLV_TEST_PID_FILE")) {
    if (FILE* file = std::fopen(pidFile, "w")) {
      std::fprintf(file, "%u\n", static_cast<unsigned>(qolv::platform::CurrentProcessId()));
      std::fclose(file);
    }
  }

  if (const char* threads = std::getenv("QOLV_TEST_WORKER_THREADS")) {
    qolv::testing::LimitWorkerThreads(std::atoi(threads));
  }

  if (!qolv::HandleCommandLine(argc, argv)) return 0;
  if (std::getenv("QOLV_TEST_PROXY_SESSION") != nullptr) {
    // What the service's own executable has in place before main.
    const qolv::net::CEngineProcessSetup setup;
    qolv::CServiceMonitor monitor;
    if (!CServiceBase::Run(monitor)) qolv::PrintDispatcherFailure(qolv::platform::GetSystemError());
    if (monitor.WorkLeftRunning()) qolv::platform::EndProcessNow(0);
    return 0;
  }
  CTestService service;
  if (!CServiceBase::Run(service)) qolv::PrintDispatcherFailure(qolv::platform::GetSystemError());
  return 0;
}

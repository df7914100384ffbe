#include "service/service_installer.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/process_info.h"
#include "platform/service_control.h"
#include "platform/service_manager.h"
#include "platform/system_error.h"
#include "service/service_identity.h"

namespace qolv {
namespace {

constexpr uint32_t kResetPeriodSeconds = 10;
constexpr uint32_t kRestartCount = 3;
constexpr uint32_t kRestartDelayMs = 1000;
constexpr uint32_t kStopPollMs = 1000;

// Each message is flushed at once, so the progress dots show while the stop goes on.
void Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

void PrintFailure(const char* operation) {
  Print("%s failed w/err 0x%08lx\n", operation, static_cast<unsigned long>(platform::GetSystemError()));
}

// The service manager splits its command line at blanks unless the path is quoted.
std::string QuoteIfBlank(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  return "\"" + path + "\"";
}

}  // namespace

void InstallService() {
  const std::string path = platform::ExecutablePath();
  if (path.empty()) {
    PrintFailure("GetModuleFileName");
    return;
  }
  InstallServiceFor(path);
}

void InstallServiceFor(const std::string& executablePath) {
  const std::string commandLine = QuoteIfBlank(executablePath);
  const platform::ServiceHandle manager =
      platform::OpenServiceManager(platform::kManagerConnect | platform::kManagerCreateService);
  if (!manager) {
    PrintFailure("OpenSCManager");
    return;
  }
  platform::ServiceRegistration registration;
  registration.name = kServiceName;
  registration.displayName = kServiceDisplayName;
  registration.access = platform::kServiceAccessStart | platform::kServiceAccessQueryStatus |
                        platform::kServiceAccessChangeConfig;
  registration.serviceType = platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess;
  registration.startType = platform::kServiceDemandStart;
  registration.errorControl = platform::kServiceErrorNormal;
  registration.commandLine = commandLine.c_str();
  const platform::ServiceHandle service = platform::CreateServiceEntry(manager, registration);
  if (!service) {
    PrintFailure("CreateService");
    return;
  }
  // The registration stands without these settings, so their outcome does not change the result.
  platform::SetServiceDescription(service, kServiceDescription);
  platform::SetServiceRestartActions(service, kResetPeriodSeconds, kRestartCount, kRestartDelayMs);
  Print("%s is installed.\n", kServiceName);
}

void RemoveService() {
  const platform::ServiceHandle manager = platform::OpenServiceManager(platform::kManagerConnect);
  if (!manager) {
    PrintFailure("OpenSCManager");
    return;
  }
  const platform::ServiceHandle service = platform::OpenServiceEntry(
      manager, kServiceName,
      platform::kServiceAccessStop | platform::kServiceAccessQueryStatus | platform::kServiceAccessDelete);
  if (!service) {
    PrintFailure("OpenService");
    return;
  }
  // A refused stop (the service is not running) goes straight on to the deletion.
  uint32_t state = 0;
  if (platform::StopService(service, state)) {
    Print("Stopping %s.", kServiceName);
    platform::SleepMs(kStopPollMs);
    // A failed query ends the wait with the state known last.
    while (platform::QueryServiceState(service, state) && state == platform::kServiceStopPending) {
      Print(".");
      platform::SleepMs(kStopPollMs);
    }
    if (state == platform::kServiceStopped) {
      Print("\n%s is stopped.\n", kServiceName);
    } else {
      Print("\n%s failed to stop.\n", kServiceName);
    }
  }
  if (platform::DeleteServiceEntry(service)) {
    Print("%s is removed.\n", kServiceName);
  } else {
    PrintFailure("DeleteService");
  }
}

}  // namespace qolv

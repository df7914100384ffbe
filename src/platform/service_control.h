#pragma once
// Running as a service: the dispatcher, the control handler and status reports, in the shape
// of the Windows service control manager. Numbers are the Windows ones on every target.
// On Windows each call is the real API. On Linux the process runs in the foreground: the
// service-main runs on a thread of its own, the dispatching (main) thread turns SIGTERM and
// SIGINT into the stop control, and status reports go to the systemd notify socket when
// NOTIFY_SOCKET is set.
#include <cstdint>

namespace qolv::platform {

// Current-state values.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;

// Control codes.
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlPause = 2;
inline constexpr uint32_t kControlContinue = 3;
inline constexpr uint32_t kControlInterrogate = 4;
inline constexpr uint32_t kControlShutdown = 5;

// Service type and accepted-control bits.
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kServiceInteractiveProcess = 0x100;
inline constexpr uint32_t kAcceptStop = 0x1;
inline constexpr uint32_t kAcceptShutdown = 0x4;

// The status record, field for field the SERVICE_STATUS record.
struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// Called with the start arguments as UTF-8 texts; argv[0] is the service name.
using ServiceMainFunction = void (*)(int argc, char** argv);
using ControlHandlerFunction = void (*)(uint32_t control);
using ServiceStatusHandle = void*;

// Connects the process to the service manager and runs serviceMain for the named service.
// Returns after the service has reported stopped: true; false with the system error set when
// the dispatcher could not start (1063 on Windows when the process was started from a console).
bool RunServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain);

// Registers the handler of control requests; it is called on the dispatching thread.
// Null with the system error set on failure.
ServiceStatusHandle RegisterControlHandler(const char* serviceName, ControlHandlerFunction handler);

// Sends a status report. False with the system error set on failure.
bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace qolv::platform

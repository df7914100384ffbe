#pragma once
// Registering, configuring, stopping and removing a service, in the shape of the Windows
// service control manager (Windows access rights and error numbers on every target).
// On Linux a service is a systemd unit "<name>.service" in /etc/systemd/system, driven with
// systemctl: creating writes the unit (not enabled at boot) and reloads systemd, stopping is
// "systemctl stop --no-block", the state is read from "systemctl is-active", deleting removes the
// unit and reloads again. 1073 reports an existing unit, 1060 a missing one.
#include <cstdint>
#include <string>

namespace qolv::platform {

// Access rights.
inline constexpr uint32_t kManagerConnect = 0x1;
inline constexpr uint32_t kManagerCreateService = 0x2;
inline constexpr uint32_t kServiceAccessChangeConfig = 0x2;
inline constexpr uint32_t kServiceAccessQueryStatus = 0x4;
inline constexpr uint32_t kServiceAccessStart = 0x10;
inline constexpr uint32_t kServiceAccessStop = 0x20;
inline constexpr uint32_t kServiceAccessDelete = 0x10000;

// Start type and error control of a registration.
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceErrorNormal = 1;

// A handle of the service manager or of one service; closes itself.
class ServiceHandle {
 public:
  ServiceHandle() = default;
  explicit ServiceHandle(void* handle) : handle_(handle) {}
  ~ServiceHandle();
  ServiceHandle(ServiceHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  ServiceHandle& operator=(ServiceHandle&& other) noexcept;
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  void* get() const { return handle_; }

 private:
  void* handle_ = nullptr;
};

// What CreateServiceEntry registers; texts are UTF-8. The command line is used as it stands
// (a path with blanks must already be quoted). No load-order group, no dependencies, and the
// service runs as the local system account.
struct ServiceRegistration {
  const char* name = nullptr;
  const char* displayName = nullptr;
  uint32_t access = 0;  // rights asked for on the new service
  uint32_t serviceType = 0;
  uint32_t startType = 0;
  uint32_t errorControl = 0;
  const char* commandLine = nullptr;
};

// Every function below leaves the system error set when it fails.

// Opens the local service manager; an empty handle on failure.
ServiceHandle OpenServiceManager(uint32_t access);
// Registers a service; an empty handle on failure (1073 when it exists already).
ServiceHandle CreateServiceEntry(const ServiceHandle& manager, const ServiceRegistration& registration);
// Opens a registered service; an empty handle on failure (1060 when there is none).
ServiceHandle OpenServiceEntry(const ServiceHandle& manager, const char* name, uint32_t access);

// Sets the description shown with the service (UTF-8).
bool SetServiceDescription(const ServiceHandle& service, const char* description);
// Sets the failure actions: restartCount restarts, each after restartDelayMs, with the failure
// count reset after resetPeriodSeconds without failure.
bool SetServiceRestartActions(const ServiceHandle& service, uint32_t resetPeriodSeconds,
                              uint32_t restartCount, uint32_t restartDelayMs);

// Sends the stop control. When it is accepted, state receives the state the service reported then.
bool StopService(const ServiceHandle& service, uint32_t& state);
// Reads the service's current state.
bool QueryServiceState(const ServiceHandle& service, uint32_t& state);
// Removes the registration.
bool DeleteServiceEntry(const ServiceHandle& service);

// Where the Linux service manager keeps its units, and the program that drives systemd; read
// by OpenServiceManager. Windows has no such place and never asks. The shipped program links the
// system's own (kSystemUnitFolder, kSystemControlCommand); test programs and the tool that writes
// the unit a package ships link a definition of their own.
struct ServiceManagerPlace {
  std::string unitFolder;
  std::string controlCommand;
};
inline constexpr char kSystemUnitFolder[] = "/etc/systemd/system";
inline constexpr char kSystemControlCommand[] = "systemctl";
ServiceManagerPlace ServiceManagerLocation();

}  // namespace qolv::platform

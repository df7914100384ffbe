// The Linux stand-in for the service control manager: a service is a systemd unit file in the
// unit folder, and systemctl reloads, stops and reports it.
#include "platform/service_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/systemd/command_runner.h"
#include "platform/posix/systemd/systemd_unit.h"
#include "platform/service_control.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

// What a handle points to: the manager's location, and for a service its name and, when this
// handle created it, the unit's settings so that later changes can write the whole unit again.
struct HandleObject {
  ServiceManagerPlace location;
  std::string serviceName;
  std::optional<posix::SystemdUnit> unit;

  std::string UnitName() const { return serviceName + ".service"; }
  std::string UnitPath() const { return location.unitFolder + "/" + UnitName(); }
};

HandleObject* ObjectOf(const ServiceHandle& handle) { return static_cast<HandleObject*>(handle.get()); }

HandleObject* ServiceObjectOf(const ServiceHandle& handle) {
  HandleObject* object = ObjectOf(handle);
  if (object == nullptr || object->serviceName.empty()) {
    SetSystemError(err::kInvalidHandle);
    return nullptr;
  }
  return object;
}

int Systemctl(const ServiceManagerPlace& location, std::vector<std::string> arguments,
              std::string* output = nullptr) {
  arguments.insert(arguments.begin(), location.controlCommand);
  return posix::RunCommand(arguments, output);
}

// systemd reads unit files only when told to; a failed reload leaves the file in place, and
// systemd picks it up at its next reload or boot.
void ReloadSystemd(const ServiceManagerPlace& location) { Systemctl(location, {"daemon-reload"}); }

// Writes a whole file; a file left half written is removed. False with the system error set.
bool WriteNewFile(const std::string& path, int flags, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
  if (fd < 0) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    done += static_cast<size_t>(n);
  }
  const uint32_t error = done == text.size() ? 0 : posix::FromErrno(errno);
  ::close(fd);
  if (error == 0) return true;
  ::unlink(path.c_str());
  SetSystemError(error);
  return false;
}

// Writes the unit beside its final place and renames it over, so the unit is never seen half written.
bool RewriteUnit(const HandleObject& object) {
  const std::string temporary = object.UnitPath() + ".tmp";
  if (!WriteNewFile(temporary, O_TRUNC, posix::SystemdUnitText(*object.unit))) return false;
  if (::rename(temporary.c_str(), object.UnitPath().c_str()) != 0) {
    const uint32_t error = posix::SetSystemErrorFromErrno();
    ::unlink(temporary.c_str());
    SetSystemError(error);
    return false;
  }
  ReloadSystemd(object.location);
  return true;
}

bool ChangeUnit(const ServiceHandle& service, const std::function<void(posix::SystemdUnit&)>& change) {
  HandleObject* object = ServiceObjectOf(service);
  if (object == nullptr) return false;
  if (!object->unit) {
    // Only the handle that created the unit knows all of its settings.
    SetSystemError(err::kNotSupported);
    return false;
  }
  const posix::SystemdUnit before = *object->unit;
  change(*object->unit);
  if (RewriteUnit(*object)) return true;
  *object->unit = before;
  return false;
}

// ActiveState as systemctl prints it, in service-manager states.
std::optional<uint32_t> StateOf(const std::string& activeState) {
  if (activeState == "active" || activeState == "reloading") return kServiceRunning;
  if (activeState == "activating") return kServiceStartPending;
  if (activeState == "deactivating") return kServiceStopPending;
  if (activeState == "inactive" || activeState == "failed") return kServiceStopped;
  return std::nullopt;
}

}  // namespace

ServiceHandle::~ServiceHandle() { delete static_cast<HandleObject*>(handle_); }

ServiceHandle& ServiceHandle::operator=(ServiceHandle&& other) noexcept {
  if (this != &other) {
    delete static_cast<HandleObject*>(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

ServiceHandle OpenServiceManager(uint32_t access) {
  const ServiceManagerPlace location = ServiceManagerLocation();
  struct stat info {};
  if (::stat(location.unitFolder.c_str(), &info) != 0) {
    posix::SetSystemErrorFromErrno();
    return {};
  }
  if (!S_ISDIR(info.st_mode)) {
    SetSystemError(err::kFileNotFound);
    return {};
  }
  if ((access & kManagerCreateService) != 0 && ::access(location.unitFolder.c_str(), W_OK) != 0) {
    SetSystemError(err::kAccessDenied);
    return {};
  }
  return ServiceHandle(new HandleObject{location, {}, {}});
}

ServiceHandle CreateServiceEntry(const ServiceHandle& manager, const ServiceRegistration& registration) {
  const HandleObject* managerObject = ObjectOf(manager);
  if (managerObject == nullptr) {
    SetSystemError(err::kInvalidHandle);
    return {};
  }
  posix::SystemdUnit unit;
  unit.displayName = registration.displayName;
  unit.commandLine = registration.commandLine;
  if (!posix::FitsOnUnitLine(unit.displayName) || !posix::CommandLineIsOneWord(unit.commandLine)) {
    SetSystemError(err::kInvalidParameter);
    return {};
  }
  auto* object = new HandleObject{managerObject->location, registration.name, unit};
  ServiceHandle service(object);
  // O_EXCL makes "exists already" one atomic test, as it is in the service manager.
  if (!WriteNewFile(object->UnitPath(), O_EXCL, posix::SystemdUnitText(unit))) {
    if (GetSystemError() == err::kAlreadyExists) SetSystemError(err::kServiceExists);
    return {};
  }
  ReloadSystemd(object->location);
  return service;
}

ServiceHandle OpenServiceEntry(const ServiceHandle& manager, const char* name, uint32_t) {
  const HandleObject* managerObject = ObjectOf(manager);
  if (managerObject == nullptr) {
    SetSystemError(err::kInvalidHandle);
    return {};
  }
  auto* object = new HandleObject{managerObject->location, name, {}};
  ServiceHandle service(object);
  struct stat info {};
  if (::stat(object->UnitPath().c_str(), &info) != 0) {
    SetSystemError(errno == ENOENT ? err::kServiceDoesNotExist : posix::FromErrno(errno));
    return {};
  }
  return service;
}

bool SetServiceDescription(const ServiceHandle& service, const char* description) {
  const std::string text = description;
  if (!posix::FitsOnUnitLine(text)) {
    SetSystemError(err::kInvalidParameter);
    return false;
  }
  return ChangeUnit(service, [&text](posix::SystemdUnit& unit) { unit.description = text; });
}

bool SetServiceRestartActions(const ServiceHandle& service, uint32_t resetPeriodSeconds,
                              uint32_t restartCount, uint32_t restartDelayMs) {
  return ChangeUnit(service, [&](posix::SystemdUnit& unit) {
    unit.resetPeriodSeconds = resetPeriodSeconds;
    unit.restartCount = restartCount;
    unit.restartDelayMs = restartDelayMs;
  });
}

bool QueryServiceState(const ServiceHandle& service, uint32_t& state) {
  const HandleObject* object = ServiceObjectOf(service);
  if (object == nullptr) return false;
  std::string output;
  // is-active exits non-zero for every state but active; the state is in the text either way.
  if (Systemctl(object->location, {"is-active", object->UnitName()}, &output) < 0) return false;
  const std::string activeState = output.substr(0, output.find('\n'));
  const std::optional<uint32_t> known = StateOf(activeState);
  if (!known) {
    SetSystemError(err::kInvalidData);
    return false;
  }
  state = *known;
  return true;
}

bool StopService(const ServiceHandle& service, uint32_t& state) {
  const HandleObject* object = ServiceObjectOf(service);
  if (object == nullptr) return false;
  uint32_t current = 0;
  if (!QueryServiceState(service, current)) return false;
  if (current == kServiceStopped) {
    SetSystemError(err::kServiceNotActive);
    return false;
  }
  // --no-block hands the stop to systemd and returns, as the stop control does; the caller
  // watches the state change.
  if (Systemctl(object->location, {"stop", "--no-block", object->UnitName()}) != 0) {
    SetSystemError(err::kServiceCannotAcceptControl);
    return false;
  }
  if (!QueryServiceState(service, current)) current = kServiceStopPending;
  state = current;
  return true;
}

bool DeleteServiceEntry(const ServiceHandle& service) {
  const HandleObject* object = ServiceObjectOf(service);
  if (object == nullptr) return false;
  if (::unlink(object->UnitPath().c_str()) != 0) {
    SetSystemError(errno == ENOENT ? err::kServiceDoesNotExist : posix::FromErrno(errno));
    return false;
  }
  ReloadSystemd(object->location);
  return true;
}

}  // namespace qolv::platform

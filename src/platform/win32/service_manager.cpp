#include "platform/service_manager.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/utf16.h"

namespace qolv::platform {
namespace {

SC_HANDLE Sc(const ServiceHandle& handle) { return static_cast<SC_HANDLE>(handle.get()); }

bool ChangeConfig(const ServiceHandle& service, DWORD level, void* info) {
  return ::ChangeServiceConfig2W(Sc(service), level, info) != FALSE;
}

}  // namespace

ServiceHandle::~ServiceHandle() {
  if (handle_ != nullptr) ::CloseServiceHandle(static_cast<SC_HANDLE>(handle_));
}

ServiceHandle& ServiceHandle::operator=(ServiceHandle&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::CloseServiceHandle(static_cast<SC_HANDLE>(handle_));
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

ServiceHandle OpenServiceManager(uint32_t access) {
  return ServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

ServiceHandle CreateServiceEntry(const ServiceHandle& manager, const ServiceRegistration& registration) {
  const std::wstring name = win32::Utf8ToWide(registration.name);
  const std::wstring displayName = win32::Utf8ToWide(registration.displayName);
  const std::wstring commandLine = win32::Utf8ToWide(registration.commandLine);
  // An empty text is an empty dependency list; null account and password mean LocalSystem.
  return ServiceHandle(::CreateServiceW(Sc(manager), name.c_str(), displayName.c_str(), registration.access,
                                        registration.serviceType, registration.startType,
                                        registration.errorControl, commandLine.c_str(), nullptr, nullptr, L"",
                                        nullptr, nullptr));
}

ServiceHandle OpenServiceEntry(const ServiceHandle& manager, const char* name, uint32_t access) {
  return ServiceHandle(::OpenServiceW(Sc(manager), win32::Utf8ToWide(name).c_str(), access));
}

bool SetServiceDescription(const ServiceHandle& service, const char* description) {
  std::wstring text = win32::Utf8ToWide(description);
  SERVICE_DESCRIPTIONW info{text.data()};
  return ChangeConfig(service, SERVICE_CONFIG_DESCRIPTION, &info);
}

bool SetServiceRestartActions(const ServiceHandle& service, uint32_t resetPeriodSeconds,
                              uint32_t restartCount, uint32_t restartDelayMs) {
  std::vector<SC_ACTION> actions(restartCount, SC_ACTION{SC_ACTION_RESTART, restartDelayMs});
  SERVICE_FAILURE_ACTIONSW info{};
  info.dwResetPeriod = resetPeriodSeconds;
  info.cActions = restartCount;
  info.lpsaActions = actions.data();
  return ChangeConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS, &info);
}

bool StopService(const ServiceHandle& service, uint32_t& state) {
  SERVICE_STATUS status{};
  if (!::ControlService(Sc(service), SERVICE_CONTROL_STOP, &status)) return false;
  state = status.dwCurrentState;
  return true;
}

bool QueryServiceState(const ServiceHandle& service, uint32_t& state) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(Sc(service), &status)) return false;
  state = status.dwCurrentState;
  return true;
}

bool DeleteServiceEntry(const ServiceHandle& service) { return ::DeleteService(Sc(service)) != FALSE; }

}  // namespace qolv::platform

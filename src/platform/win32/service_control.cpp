#include "platform/service_control.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/service_control_detail.h"
#include "platform/win32/utf16.h"

namespace qolv::platform {
namespace {

// The service manager's callbacks carry no context, and a process serves one service.
std::atomic<ServiceMainFunction> g_serviceMain{nullptr};
std::atomic<ControlHandlerFunction> g_controlHandler{nullptr};

void WINAPI ServiceMainThunk(DWORD argc, LPWSTR* argv) {
  std::vector<std::string> texts;
  for (DWORD i = 0; i < argc; ++i) texts.push_back(win32::WideToUtf8(argv[i]));
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  if (ServiceMainFunction serviceMain = g_serviceMain.load())
    serviceMain(static_cast<int>(argc), pointers.data());
}

void WINAPI ControlHandlerThunk(DWORD control) {
  if (ControlHandlerFunction handler = g_controlHandler.load()) handler(control);
}

}  // namespace

bool RunServiceDispatcher(const char* serviceName, ServiceMainFunction serviceMain) {
  g_serviceMain.store(serviceMain);
  std::wstring name = win32::Utf8ToWide(serviceName);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), &ServiceMainThunk}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) != FALSE;
}

ServiceStatusHandle RegisterControlHandler(const char* serviceName, ControlHandlerFunction handler) {
  g_controlHandler.store(handler);
  return ::RegisterServiceCtrlHandlerW(win32::Utf8ToWide(serviceName).c_str(), &ControlHandlerThunk);
}

bool detail::SendServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  SERVICE_STATUS record{status.serviceType,
                        status.currentState,
                        status.controlsAccepted,
                        status.win32ExitCode,
                        status.serviceSpecificExitCode,
                        status.checkPoint,
                        status.waitHint};
  return ::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(handle), &record) != FALSE;
}

}  // namespace qolv::platform

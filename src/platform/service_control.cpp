#include "platform/service_control.h"

#include <atomic>

#include "platform/service_control_detail.h"

namespace qolv::platform {
namespace {
std::atomic<ServiceStatusHook> g_hook{nullptr};
}  // namespace

void SetServiceStatusHook(ServiceStatusHook hook) { g_hook.store(hook, std::memory_order_release); }

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (ServiceStatusHook hook = g_hook.load(std::memory_order_acquire)) {
    hook(status);
    return true;
  }
  return detail::SendServiceStatus(handle, status);
}

}  // namespace qolv::platform

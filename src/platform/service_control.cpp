#include "platform/service_control.h"

#include "platform/service_control_detail.h"

namespace qolv::platform {

// Alone in its file: a test program links a replacement that can record the reports.
bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  return detail::SendServiceStatus(handle, status);
}

}  // namespace qolv::platform

#pragma once
// The OS side of status reports. ReportServiceStatus forwards to it; test programs link a version
// of their own that can record the reports.
#include "platform/service_control.h"

namespace qolv::platform::detail {

bool SendServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace qolv::platform::detail

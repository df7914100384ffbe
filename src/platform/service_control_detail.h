#pragma once
// The OS side of status reports; service_control.cpp routes every report through the test hook first.
#include "platform/service_control.h"

namespace qolv::platform::detail {

bool SendServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace qolv::platform::detail

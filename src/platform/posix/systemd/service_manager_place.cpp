#include "platform/service_manager.h"

namespace qolv::platform {

// Alone in its file: test programs and the packaging tool link a definition of their own.
ServiceManagerPlace ServiceManagerLocation() { return {kSystemUnitFolder, kSystemControlCommand}; }

}  // namespace qolv::platform

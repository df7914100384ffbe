#include "platform/work_item.h"

#include <system_error>
#include <thread>

#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform {

bool QueueLongWorkItem(WorkItemFunction work, void* context) {
  try {
    std::thread(work, context).detach();
    return true;
  } catch (const std::system_error&) {
    SetSystemError(err::kNotEnoughMemory);  // what Windows reports when it cannot queue the work
    return false;
  }
}

}  // namespace qolv::platform

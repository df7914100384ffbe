#include "platform/work_item.h"

#include <windows.h>

#include <memory>
#include <new>

namespace qolv::platform {
namespace {

struct WorkItem {
  WorkItemFunction work;
  void* context;
};

DWORD WINAPI RunWorkItem(LPVOID parameter) {
  const std::unique_ptr<WorkItem> item(static_cast<WorkItem*>(parameter));
  item->work(item->context);
  return 0;
}

}  // namespace

bool QueueLongWorkItem(WorkItemFunction work, void* context) {
  auto* item = new (std::nothrow) WorkItem{work, context};
  if (item == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (::QueueUserWorkItem(&RunWorkItem, item, WT_EXECUTELONGFUNCTION)) return true;
  const DWORD error = ::GetLastError();
  delete item;
  ::SetLastError(error);
  return false;
}

}  // namespace qolv::platform

#include "platform/event_log.h"

#include <atomic>

#include "platform/event_log_detail.h"

namespace qolv::platform {
namespace {
std::atomic<EventLogHook> g_hook{nullptr};
}  // namespace

void SetEventLogHook(EventLogHook hook) { g_hook.store(hook, std::memory_order_release); }

bool WriteEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count) {
  if (EventLogHook hook = g_hook.load(std::memory_order_acquire)) {
    hook(source, type, strings, count);
    return true;
  }
  return detail::WriteSystemEventLogEntry(source, type, strings, count);
}

}  // namespace qolv::platform

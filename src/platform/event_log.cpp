#include "platform/event_log.h"

#include "platform/event_log_detail.h"

namespace qolv::platform {

// Alone in its file: a test program links a replacement that can record the entries.
bool WriteEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count) {
  return detail::WriteSystemEventLogEntry(source, type, strings, count);
}

}  // namespace qolv::platform

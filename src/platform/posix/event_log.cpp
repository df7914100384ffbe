#include "platform/event_log.h"

#include <syslog.h>

#include <mutex>
#include <string>

#include "platform/event_log_detail.h"

namespace qolv::platform::detail {

// The event log's stand-in is syslog with the source as ident; the insertion strings of one
// entry become one message, joined by ": ".
bool WriteSystemEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count) {
  std::string message;
  for (uint16_t i = 0; i < count; ++i) {
    if (i > 0) message += ": ";
    message += strings[i];
  }
  const int priority = type == kEventError ? LOG_ERR : LOG_INFO;
  // openlog keeps the ident pointer until closelog, and the ident is per process, so one lock
  // spans the open, the entry and the close.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  ::openlog(source, LOG_PID, LOG_DAEMON);
  ::syslog(priority, "%s", message.c_str());
  ::closelog();
  return true;
}

}  // namespace qolv::platform::detail

#pragma once
// The OS side of the event log. WriteEventLogEntry forwards to it; test programs link a version
// of their own that can record the entries.
#include <cstdint>

namespace qolv::platform::detail {

bool WriteSystemEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count);

}  // namespace qolv::platform::detail

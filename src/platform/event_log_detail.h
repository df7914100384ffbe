#pragma once
// The OS side of the event log; event_log.cpp routes every entry through the test hook first.
#include <cstdint>

namespace qolv::platform::detail {

bool WriteSystemEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count);

}  // namespace qolv::platform::detail

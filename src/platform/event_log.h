#pragma once
// The system event log (the Windows event log; syslog on Linux, with the source as ident).
#include <cstdint>

namespace qolv::platform {

inline constexpr uint16_t kEventError = 1;
inline constexpr uint16_t kEventInformation = 4;

// Opens the event source of that name, writes one entry of the given type with category 0,
// event id 0, no user, no raw data and the insertion strings (UTF-8), and closes the source.
// False with the system error set when the source could not be opened or the entry not written.
bool WriteEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count);

}  // namespace qolv::platform

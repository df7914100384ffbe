#pragma once
// What test programs can redirect in the platform layer. The shipped service links the plain
// forwarders of src/platform/; a test program links platform_seams.cpp, whose definitions of the
// same functions (TickCount, DebugOutput, WriteEventLogEntry, ReportServiceStatus,
// ServiceManagerLocation, EndProcessNow) look at these settings first and fall back on the
// system's channel.
#include <cstdint>

#include "platform/service_control.h"

namespace qolv::platform {

// Replaces the tick count source, for tests of time-dependent rules; nullptr restores the system clock.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

// Redirects debugger output; nullptr restores the system channel. Wide texts reach the hook
// converted to narrow text.
using DebugOutputHook = void (*)(const char* text);
void SetDebugOutputHook(DebugOutputHook hook);

// Redirects event-log entries; nullptr restores the system event log.
using EventLogHook = void (*)(const char* source, uint16_t type, const char* const* strings, uint16_t count);
void SetEventLogHook(EventLogHook hook);

// Redirects status reports; nullptr restores the system channel.
using ServiceStatusHook = void (*)(const ServiceStatus& status);
void SetServiceStatusHook(ServiceStatusHook hook);

// Points the Linux service manager at another unit folder and systemctl command. Windows never
// reads the place.
void RedirectServiceManager(const char* unitFolder, const char* controlCommand);

// Records ends of the process instead of ending it; nullptr restores the real end. With a hook,
// EndProcessNow calls it and then holds the calling thread until the test program exits.
using ProcessEndHook = void (*)(uint32_t exitCode);
void SetProcessEndHook(ProcessEndHook hook);

}  // namespace qolv::platform

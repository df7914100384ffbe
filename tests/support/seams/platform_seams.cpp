// The test programs' definitions of the platform functions that the shipped service links as
// plain forwarders (see platform_seams.h).
#include "platform_seams.h"

#include <atomic>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/clock_detail.h"
#include "platform/debug_output.h"
#include "platform/debug_output_detail.h"
#include "platform/event_log.h"
#include "platform/event_log_detail.h"
#include "platform/process_end_detail.h"
#include "platform/process_info.h"
#include "platform/service_control_detail.h"
#include "platform/service_manager.h"

namespace qolv::platform {
namespace {

std::atomic<TickSource> g_tickSource{nullptr};
std::atomic<DebugOutputHook> g_debugHook{nullptr};
std::atomic<EventLogHook> g_eventHook{nullptr};
std::atomic<ServiceStatusHook> g_statusHook{nullptr};
std::atomic<ProcessEndHook> g_endHook{nullptr};

std::mutex g_placeMutex;
ServiceManagerPlace g_place{kSystemUnitFolder, kSystemControlCommand};

}  // namespace

void SetTickSource(TickSource source) { g_tickSource.store(source, std::memory_order_release); }
void SetDebugOutputHook(DebugOutputHook hook) { g_debugHook.store(hook, std::memory_order_release); }
void SetEventLogHook(EventLogHook hook) { g_eventHook.store(hook, std::memory_order_release); }
void SetServiceStatusHook(ServiceStatusHook hook) { g_statusHook.store(hook, std::memory_order_release); }
void SetProcessEndHook(ProcessEndHook hook) { g_endHook.store(hook, std::memory_order_release); }

void RedirectServiceManager(const char* unitFolder, const char* controlCommand) {
  std::lock_guard lock(g_placeMutex);
  g_place = {unitFolder, controlCommand};
}

uint32_t TickCount() {
  if (TickSource source = g_tickSource.load(std::memory_order_acquire)) return source();
  return detail::SystemTickCount();
}

void DebugOutput(const char* text) {
  if (DebugOutputHook hook = g_debugHook.load(std::memory_order_acquire)) {
    hook(text);
    return;
  }
  detail::WriteDebugOutput(text);
}

void DebugOutputWide(const wchar_t* text) {
  if (DebugOutputHook hook = g_debugHook.load(std::memory_order_acquire)) {
    // The texts sent this way are ASCII, so a character-by-character narrowing is exact.
    std::string narrow;
    for (const wchar_t* p = text; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
    hook(narrow.c_str());
    return;
  }
  detail::WriteDebugOutputWide(text);
}

bool WriteEventLogEntry(const char* source, uint16_t type, const char* const* strings, uint16_t count) {
  if (EventLogHook hook = g_eventHook.load(std::memory_order_acquire)) {
    hook(source, type, strings, count);
    return true;
  }
  return detail::WriteSystemEventLogEntry(source, type, strings, count);
}

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (ServiceStatusHook hook = g_statusHook.load(std::memory_order_acquire)) {
    hook(status);
    return true;
  }
  return detail::SendServiceStatus(handle, status);
}

void EndProcessNow(uint32_t exitCode) {
  if (ProcessEndHook hook = g_endHook.load(std::memory_order_acquire)) {
    hook(exitCode);
    for (;;) SleepMs(60000);
  }
  detail::EndProcess(exitCode);
}

ServiceManagerPlace ServiceManagerLocation() {
  std::lock_guard lock(g_placeMutex);
  return g_place;
}

}  // namespace qolv::platform

#include "platform/debug_output.h"

#include <atomic>
#include <string>

#include "platform/debug_output_detail.h"

namespace qolv::platform {
namespace {
std::atomic<DebugOutputHook> g_hook{nullptr};
}  // namespace

void SetDebugOutputHook(DebugOutputHook hook) { g_hook.store(hook, std::memory_order_release); }

void DebugOutput(const char* text) {
  if (DebugOutputHook hook = g_hook.load(std::memory_order_acquire)) {
    hook(text);
    return;
  }
  detail::WriteDebugOutput(text);
}

void DebugOutputWide(const wchar_t* text) {
  if (DebugOutputHook hook = g_hook.load(std::memory_order_acquire)) {
    // The texts sent this way are ASCII, so a character-by-character narrowing is exact.
    std::string narrow;
    for (const wchar_t* p = text; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
    hook(narrow.c_str());
    return;
  }
  detail::WriteDebugOutputWide(text);
}

}  // namespace qolv::platform

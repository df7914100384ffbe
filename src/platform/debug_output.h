#pragma once

namespace qolv::platform {

// Sends a text to the debugger output (OutputDebugString on Windows, standard error
// elsewhere), one write per call.
void DebugOutput(const char* text);
void DebugOutputWide(const wchar_t* text);

// Redirects debugger output, for tests; nullptr restores the system channel.
// Wide texts reach the hook converted to narrow text.
using DebugOutputHook = void (*)(const char* text);
void SetDebugOutputHook(DebugOutputHook hook);

}  // namespace qolv::platform

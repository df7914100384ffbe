#pragma once

namespace qolv::platform {

// Sends a text to the debugger output (OutputDebugString on Windows, standard error
// elsewhere), one write per call.
void DebugOutput(const char* text);
void DebugOutputWide(const wchar_t* text);

}  // namespace qolv::platform

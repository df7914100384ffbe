#include "platform/debug_output.h"

#include "platform/debug_output_detail.h"

namespace qolv::platform {

// Alone in their file: a test program links replacements that can capture the texts.
void DebugOutput(const char* text) { detail::WriteDebugOutput(text); }
void DebugOutputWide(const wchar_t* text) { detail::WriteDebugOutputWide(text); }

}  // namespace qolv::platform

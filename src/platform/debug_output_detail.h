#pragma once
// The OS side of debugger output. DebugOutput and DebugOutputWide forward to it; test programs
// link versions of their own that can capture the texts.

namespace qolv::platform::detail {

void WriteDebugOutput(const char* text);
void WriteDebugOutputWide(const wchar_t* text);

}  // namespace qolv::platform::detail

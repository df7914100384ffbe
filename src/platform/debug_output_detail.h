#pragma once
// The OS side of debugger output; debug_output.cpp routes every text through the test hook first.

namespace qolv::platform::detail {

void WriteDebugOutput(const char* text);
void WriteDebugOutputWide(const wchar_t* text);

}  // namespace qolv::platform::detail

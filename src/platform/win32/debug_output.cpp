#include <windows.h>

#include "platform/debug_output_detail.h"

namespace qolv::platform::detail {

void WriteDebugOutput(const char* text) { ::OutputDebugStringA(text); }
void WriteDebugOutputWide(const wchar_t* text) { ::OutputDebugStringW(text); }

}  // namespace qolv::platform::detail

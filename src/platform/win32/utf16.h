#pragma once
#include <string>

namespace qolv::platform::win32 {

// Conversions between the UTF-8 texts above the platform layer and the UTF-16 of the wide API.
// Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(const char* text);
std::string WideToUtf8(const wchar_t* text);

}  // namespace qolv::platform::win32

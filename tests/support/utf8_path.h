#pragma once
// Paths as the service's UTF-8 texts. A filesystem path made from a char string, or read back as
// one, goes through the ANSI code page on Windows, which cannot hold every folder name.
#include <filesystem>
#include <string>

namespace qolv::testing {

inline std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A part of a folder name in UTF-8 that no single ANSI code page holds, as in a POS machine's
// install folder C:\收银系统 or C:\Kassen-Überwachung.
inline constexpr char kNonAsciiFolderPart[] = "收银系统-Kassen-Überwachung";

// A path in the system's temporary folder whose name holds that part and then unique.
inline std::filesystem::path NonAsciiTemporaryPath(const std::string& unique) {
  return std::filesystem::temp_directory_path() /
         PathFromUtf8("qolv-" + std::string(kNonAsciiFolderPart) + "-" + unique);
}

}  // namespace qolv::testing

#include "local_printers.h"

#include <windows.h>
#include <winspool.h>

#include <vector>

namespace qolv::sdk {
namespace {

std::string ToUtf8(const wchar_t* text) {
  if (text == nullptr || *text == 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<size_t>(bytes) - 1);
  return out;
}

std::string DefaultPrinterName() {
  DWORD size = 0;
  ::GetDefaultPrinterW(nullptr, &size);
  if (size == 0) return {};
  std::vector<wchar_t> name(size);
  if (!::GetDefaultPrinterW(name.data(), &size)) return {};
  return ToUtf8(name.data());
}

}  // namespace

bool ReadLocalPrinters(std::vector<LocalPrinter>& printers, std::string& error) {
  printers.clear();
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  std::vector<BYTE> buffer;
  DWORD needed = 0;
  DWORD count = 0;
  // The list may grow between asking for its size and reading it, so the read is tried again
  // a few times with the larger size.
  bool read = false;
  for (int attempt = 0; attempt < 4 && !read; ++attempt) {
    read = ::EnumPrintersW(flags, nullptr, 2, buffer.empty() ? nullptr : buffer.data(),
                           static_cast<DWORD>(buffer.size()), &needed, &count) != FALSE;
    if (!read) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_INSUFFICIENT_BUFFER) {
        error = "EnumPrinters failed, error=" + std::to_string(code);
        return false;
      }
      buffer.resize(needed);
    }
  }
  if (!read) {
    error = "EnumPrinters kept asking for a larger buffer";
    return false;
  }
  const std::string defaultName = DefaultPrinterName();
  const auto* infos = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    LocalPrinter printer;
    printer.name = ToUtf8(infos[i].pPrinterName);
    printer.isDefault = !defaultName.empty() && printer.name == defaultName;
    printer.description = ToUtf8(infos[i].pComment);
    printer.location = ToUtf8(infos[i].pLocation);
    printers.push_back(std::move(printer));
  }
  return true;
}

}  // namespace qolv::sdk

#include "platform/mapped_file.h"

#include <windows.h>

#include "platform/error_codes.h"
#include "platform/win32/utf16.h"

namespace qolv::platform {
namespace {

HANDLE FileOf(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// The failing call has left its error as the system error already.
uint32_t ReportLastError() { return ::GetLastError(); }

uint32_t Report(uint32_t error) {
  ::SetLastError(error);
  return error;
}

}  // namespace

MappedFile::~MappedFile() { Release(); }

void MappedFile::Release() {
  if (view_ != nullptr) ::UnmapViewOfFile(view_);
  if (mapping_ != nullptr) ::CloseHandle(mapping_);
  if (file_ != -1) ::CloseHandle(FileOf(file_));
  view_ = nullptr;
  mapping_ = nullptr;
  file_ = -1;
  size_ = 0;
}

uint32_t MappedFile::Open(const char* path) {
  Release();
  const HANDLE file = ::CreateFileW(win32::Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ReportLastError();
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) {
    const uint32_t error = ReportLastError();
    ::CloseHandle(file);
    return Report(error);
  }
  file_ = reinterpret_cast<intptr_t>(file);
  size_ = static_cast<uint64_t>(size.QuadPart);
  return Report(err::kSuccess);
}

uint32_t MappedFile::Map() {
  if (file_ == -1) return Report(err::kInvalidHandle);
  mapping_ = ::CreateFileMappingW(FileOf(file_), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping_ == nullptr) return ReportLastError();
  void* view = ::MapViewOfFileEx(mapping_, FILE_MAP_READ, 0, 0, 0, nullptr);
  if (view == nullptr) return ReportLastError();
  view_ = static_cast<const uint8_t*>(view);
  return Report(err::kSuccess);
}

}  // namespace qolv::platform

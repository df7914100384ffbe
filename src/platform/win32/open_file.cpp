#include "platform/open_file.h"

#include <stdio.h>

#include "platform/win32/utf16.h"

namespace qolv::platform {

std::FILE* OpenFile(const char* path, const char* mode) {
  return ::_wfopen(win32::Utf8ToWide(path).c_str(), win32::Utf8ToWide(mode).c_str());
}

}  // namespace qolv::platform

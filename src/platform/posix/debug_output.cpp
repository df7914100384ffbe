#include <unistd.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/debug_output_detail.h"

namespace qolv::platform::detail {

void WriteDebugOutput(const char* text) {
  // One write per text, so lines from different threads do not interleave.
  const size_t length = std::strlen(text);
  if (length > 0) (void)!::write(STDERR_FILENO, text, length);
}

void WriteDebugOutputWide(const wchar_t* text) {
  std::string narrow;
  for (const wchar_t* p = text; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
  WriteDebugOutput(narrow.c_str());
}

}  // namespace qolv::platform::detail

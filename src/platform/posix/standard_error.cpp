#include "platform/standard_error.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qolv::platform {

void WriteStandardError(const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace qolv::platform

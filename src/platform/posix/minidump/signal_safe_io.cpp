#include "platform/posix/minidump/signal_safe_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qolv::platform::posix {

long ReadWholeFile(const char* path, char* buffer, size_t capacity) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t filled = 0;
  while (filled < capacity) {
    const ssize_t n = ::read(fd, buffer + filled, capacity - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  ::close(fd);
  return static_cast<long>(filled);
}

uint64_t ParseHex(const char*& text, const char* end) {
  uint64_t value = 0;
  for (; text < end; ++text) {
    const char c = *text;
    if (c >= '0' && c <= '9') {
      value = value * 16 + static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = value * 16 + static_cast<uint64_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value = value * 16 + static_cast<uint64_t>(c - 'A' + 10);
    } else {
      break;
    }
  }
  return value;
}

uint64_t ParseDecimal(const char*& text, const char* end) {
  uint64_t value = 0;
  for (; text < end && *text >= '0' && *text <= '9'; ++text)
    value = value * 10 + static_cast<uint64_t>(*text - '0');
  return value;
}

void FixedText::Put(char c) {
  if (length_ + 1 >= capacity_) {
    overflowed_ = true;
    return;
  }
  buffer_[length_++] = c;
  buffer_[length_] = 0;
}

FixedText& FixedText::Append(const char* text) {
  for (; *text != 0; ++text) Put(*text);
  return *this;
}

FixedText& FixedText::AppendDecimal(uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) Put(digits[--count]);
  return *this;
}

}  // namespace qolv::platform::posix

#pragma once
// Small helpers for code that runs inside a signal handler: only open, read, close and plain
// memory work, no allocation, no locks.
#include <cstddef>
#include <cstdint>

namespace qolv::platform::posix {

// Reads a file from its start into buffer, at most capacity bytes. Returns the bytes read, or
// -1 with errno set when the file cannot be opened.
long ReadWholeFile(const char* path, char* buffer, size_t capacity);

// Reads a number at text (stopping at end or at the first character that is no digit) and moves
// text behind it.
uint64_t ParseHex(const char*& text, const char* end);
uint64_t ParseDecimal(const char*& text, const char* end);

// A text built in a caller's fixed buffer, always zero-terminated. A text that does not fit is
// cut and marked as overflowed.
class FixedText {
 public:
  FixedText(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) { buffer_[0] = 0; }
  FixedText& Append(const char* text);
  FixedText& AppendDecimal(uint64_t value);
  const char* c_str() const { return buffer_; }
  bool overflowed() const { return overflowed_; }

 private:
  void Put(char c);
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace qolv::platform::posix

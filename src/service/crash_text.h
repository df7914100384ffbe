#pragma once
// Texts of the crash path, formatted without allocating or locking: the crash filter runs inside
// a signal handler on Linux, where neither the heap nor stdio may be used.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace qolv {

// One value for a conversion: a number or a text.
struct CrashTextArgument {
  CrashTextArgument(uint32_t value) : number(value) {}
  CrashTextArgument(int value) : number(value) {}
  CrashTextArgument(const char* value) : text(value), isText(true) {}

  int64_t number = 0;
  const char* text = nullptr;
  bool isText = false;
};

// Formats into buffer (capacity bytes, the terminating zero included). Conversions: %lu
// (unsigned decimal), %hu (the low 16 bits, unsigned decimal), %02d (decimal with at least two
// digits), %s and %%. False when the format has any other conversion, the arguments do not
// match it, or the text does not fit; the buffer's content is undefined then.
bool FormatCrashText(char* buffer, size_t capacity, const char* format,
                     std::initializer_list<CrashTextArgument> arguments);

// Every text of the crash path is formatted into this many bytes before it is sent.
inline constexpr size_t kCrashTextCapacity = 260;

// Sends a crash text to the debugger output: formatted into kCrashTextCapacity bytes, or the
// bare format when it cannot be formatted (for instance a dump path too long for the buffer).
void SendCrashText(const char* format, std::initializer_list<CrashTextArgument> arguments = {});

}  // namespace qolv

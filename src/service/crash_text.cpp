#include "service/crash_text.h"

#include "platform/debug_output.h"

namespace qolv {
namespace {

class Output {
 public:
  Output(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  bool Put(char c) {
    if (length_ + 1 >= capacity_) return false;
    buffer_[length_++] = c;
    return true;
  }

  bool PutText(const char* text) {
    for (; *text != 0; ++text) {
      if (!Put(*text)) return false;
    }
    return true;
  }

  bool PutNumber(int64_t value, int minimumDigits) {
    if (value < 0 && !Put('-')) return false;
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char digits[20];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    while (count < minimumDigits) digits[count++] = '0';
    while (count > 0) {
      if (!Put(digits[--count])) return false;
    }
    return true;
  }

  void Terminate() { buffer_[length_] = 0; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

bool Matches(const char* at, const char* conversion) {
  for (; *conversion != 0; ++at, ++conversion) {
    if (*at != *conversion) return false;
  }
  return true;
}

}  // namespace

bool FormatCrashText(char* buffer, size_t capacity, const char* format,
                     std::initializer_list<CrashTextArgument> arguments) {
  if (capacity == 0) return false;
  Output out(buffer, capacity);
  const CrashTextArgument* next = arguments.begin();
  for (const char* p = format; *p != 0;) {
    if (*p != '%') {
      if (!out.Put(*p++)) return false;
      continue;
    }
    if (Matches(p, "%%")) {
      if (!out.Put('%')) return false;
      p += 2;
      continue;
    }
    if (next == arguments.end()) return false;
    const CrashTextArgument& argument = *next++;
    bool ok = false;
    if (Matches(p, "%lu") && !argument.isText) {
      ok = out.PutNumber(static_cast<int64_t>(static_cast<uint32_t>(argument.number)), 1);
      p += 3;
    } else if (Matches(p, "%hu") && !argument.isText) {
      ok = out.PutNumber(static_cast<int64_t>(static_cast<uint16_t>(argument.number)), 1);
      p += 3;
    } else if (Matches(p, "%02d") && !argument.isText) {
      ok = out.PutNumber(static_cast<int32_t>(argument.number), 2);
      p += 4;
    } else if (Matches(p, "%s") && argument.isText && argument.text != nullptr) {
      ok = out.PutText(argument.text);
      p += 2;
    }
    if (!ok) return false;
  }
  if (next != arguments.end()) return false;
  out.Terminate();
  return true;
}

void SendCrashText(const char* format, std::initializer_list<CrashTextArgument> arguments) {
  char text[kCrashTextCapacity];
  platform::DebugOutput(FormatCrashText(text, sizeof text, format, arguments) ? text : format);
}

}  // namespace qolv

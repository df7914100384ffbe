#include "utf8_text.h"

#include <cstddef>

namespace qolv::sdk {
namespace {

// Length of the well-formed UTF-8 sequence at text, or 0 when the bytes there are not one.
size_t SequenceLength(const unsigned char* text) {
  const unsigned char lead = text[0];
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  // A zero byte fails every check, so nothing is read past the end of the text.
  if (text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (text[i] < 0x80 || text[i] > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string ValidUtf8(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const size_t length = SequenceLength(p);
    if (length == 0) {
      out.push_back('?');
      ++p;
    } else {
      out.append(reinterpret_cast<const char*>(p), length);
      p += length;
    }
  }
  return out;
}

}  // namespace qolv::sdk

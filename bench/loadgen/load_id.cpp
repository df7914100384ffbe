#include "load_id.h"

namespace qolv::bench {
namespace {

void WriteHex(uint8_t* out, uint64_t value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[i] = static_cast<uint8_t>(kHex[value & 0xF]);
}

bool ReadHex(const uint8_t* in, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const uint8_t c = in[i];
    uint64_t nibble;
    if (c >= '0' && c <= '9') {
      nibble = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      nibble = c - 'a' + 10;
    } else {
      return false;
    }
    value = value << 4 | nibble;
  }
  return true;
}

}  // namespace

void EncodeLoadId(const LoadId& id, uint8_t* out32) {
  WriteHex(out32, id.connection, 8);
  WriteHex(out32 + 8, id.slot, 8);
  WriteHex(out32 + 16, id.sequence, 16);
}

bool DecodeLoadId(const uint8_t* in32, LoadId& id) {
  uint64_t connection = 0;
  uint64_t slot = 0;
  if (!ReadHex(in32, 8, connection) || !ReadHex(in32 + 8, 8, slot) || !ReadHex(in32 + 16, 16, id.sequence)) {
    return false;
  }
  id.connection = static_cast<uint32_t>(connection);
  id.slot = static_cast<uint32_t>(slot);
  return true;
}

}  // namespace qolv::bench

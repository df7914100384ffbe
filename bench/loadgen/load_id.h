#pragma once
#include <cstdint>

namespace qolv::bench {

// The message id of a load frame, written as 32 hexadecimal characters (connection, in-flight
// slot, sequence), so that an answer leads straight back to the frame it answers and the
// service's log lines stay readable. The sequence makes each id unique within a run.
struct LoadId {
  uint32_t connection = 0;
  uint32_t slot = 0;
  uint64_t sequence = 0;
};

void EncodeLoadId(const LoadId& id, uint8_t* out32);
// False when the 32 bytes are not an id of this form.
bool DecodeLoadId(const uint8_t* in32, LoadId& id);

}  // namespace qolv::bench

#pragma once
// The pull side of a pull-model server: the listener takes exactly the received bytes it wants.
// Called for a connection from inside that connection's OnReceive or OnClose, where the engine
// guarantees that nobody else uses the connection's buffer.
#include <cstdint>

#include "net/engine_types.h"

namespace qolv::net {

class IPullSocket {
 public:
  // Moves exactly length bytes, the oldest held, to destination (Ok); Insufficient when fewer are
  // held, with nothing changed; NoBuffer when the id has no live buffer. A length of 0 or less
  // is Ok and copies nothing.
  virtual PullResult Fetch(uint32_t connectionId, uint8_t* destination, int32_t length) = 0;
  // As Fetch, but the bytes stay where they are.
  virtual PullResult Peek(uint32_t connectionId, uint8_t* destination, int32_t length) = 0;
  virtual ~IPullSocket() = default;
};

}  // namespace qolv::net

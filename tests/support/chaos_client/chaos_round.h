#pragma once
// Runs one round of planned connections against the service on 127.0.0.1, all from one thread
// through the platform's readiness poller, and checks what comes back.
#include <cstdint>
#include <string>
#include <vector>

#include "connection_plan.h"

namespace qolv::chaos {

struct RoundResult {
  uint32_t connections = 0;
  uint32_t peakOpen = 0;         // connections open at the same time, at most
  uint64_t framesSent = 0;       // frames written, complete or not
  uint64_t answers = 0;          // answers read
  uint32_t closedByService = 0;  // connections the service closed (bad input, half-close)
  uint32_t refused = 0;          // connects that failed (the listen backlog was full)
  std::vector<std::string> failures;
};

// Patience for anything the service must do; generous for a slow, shared machine.
inline constexpr uint32_t kServicePatienceMs = 60000;

RoundResult RunRound(const std::vector<Plan>& plans, uint16_t port, uint64_t seed);

}  // namespace qolv::chaos

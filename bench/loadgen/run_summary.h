#pragma once
#include <cstdint>
#include <string>

namespace qolv::bench {

// What a run measured, printed as the one summary line.
struct RunSummary {
  std::string mode;
  uint32_t connections = 0;
  uint32_t pipeline = 0;
  uint64_t sent = 0;      // measured frames sent
  uint64_t answered = 0;  // measured frames answered
  uint64_t errors = 0;    // failed connections, stray or wrong answers, closes, missing answers
  double seconds = 0;     // from the end of the warm-up to the last measured answer
  double p50Us = 0;
  double p99Us = 0;
  double p999Us = 0;
  uint64_t warmupAnswered = 0;  // frames answered that were sent during the warm-up
};

// "mode=... c=... p=... sent=... answered=... errors=... seconds=... frames_per_s=... p50_us=...
// p99_us=... p999_us=... warmup_answered=..."
std::string FormatSummary(const RunSummary& summary);

}  // namespace qolv::bench

#include "run_summary.h"

#include <cinttypes>
#include <cstdio>

namespace qolv::bench {

std::string FormatSummary(const RunSummary& s) {
  const double rate = s.seconds > 0 ? static_cast<double>(s.answered) / s.seconds : 0;
  char line[512];
  std::snprintf(
      line, sizeof line,
      "mode=%s c=%u p=%u sent=%" PRIu64 " answered=%" PRIu64 " errors=%" PRIu64
      " seconds=%.3f frames_per_s=%.0f p50_us=%.1f p99_us=%.1f p999_us=%.1f warmup_answered=%" PRIu64,
      s.mode.c_str(), s.connections, s.pipeline, s.sent, s.answered, s.errors, s.seconds, rate, s.p50Us,
      s.p99Us, s.p999Us, s.warmupAnswered);
  return line;
}

}  // namespace qolv::bench

#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "load_options.h"
#include "platform/readiness_poller.h"
#include "platform/socket_types.h"

namespace qolv::bench {

// What a flood run saw.
struct FloodSummary {
  uint64_t frames = 0;   // heartbeats the flooder was to write
  uint64_t written = 0;  // of them written
  double writeS = 0;     // until the last was written
  uint32_t probes = 0;   // probe heartbeats answered
  uint32_t probeTimeouts = 0;
  double probeP50Us = 0;
  double probeMaxUs = 0;
  uint64_t answered = 0;    // flood heartbeats answered, each counted once
  uint64_t duplicates = 0;  // answers to a heartbeat answered before
  uint64_t missing = 0;     // written heartbeats never answered
  uint64_t errors = 0;      // closes, stray or malformed answers
  double seconds = 0;
};

// "mode=flood frames=... written=... write_s=... probes=... probe_timeouts=... probe_p50_us=...
// probe_max_us=... answered=... duplicates=... missing=... errors=... seconds=..."
std::string FormatFloodSummary(const FloodSummary& summary);

// One connection writes heartbeats with ids of their own as fast as the server takes them and
// reads nothing; meanwhile a second connection sends one heartbeat at a time, 100 ms apart, and
// times each answer. Once the probes are done the first connection reads too, until every
// heartbeat it wrote is answered, and each answer is checked against the ids it wrote.
class FloodRun {
 public:
  // A probe that waits this long ends the probing; the flood goes on.
  static constexpr int64_t kProbePatienceNs = 60'000'000'000;
  static constexpr int64_t kProbeSpacingNs = 100'000'000;

  FloodRun(const LoadOptions& options, const volatile int& stop);
  ~FloodRun();
  FloodRun(const FloodRun&) = delete;
  FloodRun& operator=(const FloodRun&) = delete;

  // Opens both connections; false when either fails.
  bool Open();
  FloodSummary Run();

 private:
  struct Link {
    platform::SocketHandle socket = platform::kInvalidSocket;
    std::vector<uint8_t> in;
    bool watched = false;
    uint32_t interest = 0;
  };

  void Write(int64_t now);
  void SendProbe(int64_t now);
  // Takes what arrived; false when the connection ended or broke.
  bool Read(Link& link, int64_t now);
  void OnAnswer(const Link& link, const uint8_t* header, int64_t now);
  void Watch(Link& link, uint32_t key, uint32_t interest);

  const LoadOptions options_;
  const volatile int& stop_;
  platform::ReadinessPoller poller_;
  bool socketsStarted_ = false;
  Link flooder_;
  Link prober_;
  std::vector<uint8_t> out_;  // flood bytes made and not yet written
  size_t outStart_ = 0;
  std::vector<bool> answeredIds_;
  bool reading_ = false;  // the flooder reads once the probes are done
  bool probing_ = true;
  int64_t probeSentNs_ = 0;  // 0: no probe in flight
  int64_t nextProbeNs_ = 0;
  std::vector<int64_t> probeNs_;
  int64_t startNs_ = 0;
  FloodSummary summary_;
};

}  // namespace qolv::bench

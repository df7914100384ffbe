// The chaos soak: runs the built service (with the sample SDK beside it) and drives it with
// rounds of hostile and faulty connections drawn from a seed, checking after every round that
// each well-formed request was answered exactly once, that a fresh heartbeat is answered in time,
// and that the service's memory and handles come back to their idle level; at the end, that it
// stops cleanly with its finish line in the log. Prints a line per round and a summary; exits 0
// when every check held, 1 when one failed, 2 on a bad command line and 77 when port 9199 is
// taken by another program.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chaos_round.h"
#include "connection_plan.h"
#include "platform/clock.h"
#include "platform/process_resources.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"
#include "support/request/frame_client.h"
#include "support/request/frames.h"
#include "service_under_test.h"

namespace qolv::chaos {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kPort = 9199;
constexpr int kPortTaken = 77;
constexpr char kFinishLine[] =
    "QolvPrinterProxy=== <<<<<<<<<<<< SESSION FINISH: DBG_LEVEL:31 <<<<<<<<<<<<\r\n";
// A fresh heartbeat after a round must be answered within this; the service answers one in
// about a millisecond when idle, so only a service that is stuck or still busy with the round
// takes this long.
constexpr uint32_t kHeartbeatBoundMs = 10000;
// After a round the service closes what is left and retires it; its handles must be back at the
// idle level within this.
constexpr uint32_t kSettleMs = 20000;
// How far above its idle level the service's handle count may settle. Locks that live as long as
// the process (the SDK library's own, the C and threads runtimes') may make a wait object the
// first time two threads meet on them, which can happen in any round, and keep it. A handle left
// per connection, or even per hundred, passes this within a few rounds.
constexpr uint32_t kHandleSlack = 4;
constexpr uint32_t kSamplePollMs = 100;
// How far above its idle level (its level after the first round) the service's resident memory
// may settle after a later round. The engine keeps up to 600 released connection objects with
// their pull buffers and 1024 4-KiB I/O blocks for reuse, and frees the rest only after their
// 30-second rest, so its level climbs for the first minute of chaos: by about 9 MB here (debug
// and release alike). The heap may also keep what the largest flood's unsent answers took
// (3000 answers of about 3.5 KB each, 10 MB). 24 MB covers both with room to spare; a leak of
// a connection's worth per connection passes it within a minute.
constexpr uint64_t kMemorySlackBytes = 24ull << 20;
// Once the pools are full (after two rests, 60 s), the level must stop rising: the rounds of the
// last third of that time may settle at most this much higher, on average, than those of the first.
constexpr int64_t kWarmAfterMs = 60000;
constexpr uint64_t kTrendSlackBytes = 4ull << 20;
constexpr size_t kFewestTrendRounds = 6;

struct Options {
  uint64_t seed = 0;
  uint32_t seconds = 60;
  uint32_t rounds = 0;  // 0: as many as fit in the time
  uint32_t connections = 300;
  bool checkHandles = true;
};

const char kUsage[] =
    "usage: qolv_chaos_client [--seed N] [--seconds N] [--rounds N] [--connections N]\n"
    "                         [--handles check|report]\n"
    "Runs the QolvPrinterProxy beside this program and drives it with chaos until the time is up\n"
    "(default 60 s) or the rounds are done; --connections is the most connections of one round\n"
    "(default 300); --handles report only prints the service's handle count without checking it.\n";

bool ParseOptions(int argc, char** argv, Options& options) {
  options.seed = static_cast<uint64_t>(Clock::now().time_since_epoch().count());
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    char* end = nullptr;
    const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
    const bool numeric = !value.empty() && *end == '\0';
    if (name == "--handles" && (value == "check" || value == "report")) {
      options.checkHandles = value == "check";
    } else if (!numeric) {
      return false;
    } else if (name == "--seed") {
      options.seed = number;
    } else if (name == "--seconds") {
      options.seconds = static_cast<uint32_t>(number);
    } else if (name == "--rounds") {
      options.rounds = static_cast<uint32_t>(number);
    } else if (name == "--connections" && number > 0) {
      options.connections = static_cast<uint32_t>(number);
    } else {
      return false;
    }
  }
  return true;
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How long a fresh connection waits for the answer to a heartbeat; -1 when none came.
int64_t HeartbeatMs(uint64_t number) {
  const Clock::time_point start = Clock::now();
  testing::FrameClient client(kPort);
  const std::string id = "fresh-heartbeat-" + std::to_string(number);
  if (!client.Connected() || !client.Send(testing::Frame(TPMT_HEART_BEAT, id))) return -1;
  const std::vector<testing::Answer> answers = client.Read(1);
  if (answers.size() != 1 || answers[0].Id() != id || answers[0].Type() != TPMT_ACK_HEART_BEAT) return -1;
  return MsSince(start);
}

// Pipelined printer lists, so that each worker has used the SDK before the idle level is taken:
// the printer system may keep a connection open per thread after its first query.
bool WarmUp() {
  constexpr int kRequests = 64;
  testing::FrameClient client(kPort);
  std::string frames;
  for (int i = 0; i < kRequests; ++i) {
    frames += testing::Frame(TPMT_REQUEST_API, "warm-up-" + std::to_string(i),
                             R"({"action":"printer.list","param":""})");
  }
  return client.Connected() && client.Send(frames) && client.Read(kRequests).size() == kRequests;
}

class Soak {
 public:
  Soak(const Options& options, ServiceUnderTest& service) : options_(options), service_(service) {}

  bool Run() {
    std::printf(
        "chaos soak: seed %llu, up to %u connections a round, %u s%s; service process %u\n",
        static_cast<unsigned long long>(options_.seed), options_.connections, options_.seconds,
        options_.rounds != 0 ? (", at most " + std::to_string(options_.rounds) + " rounds").c_str() : "",
        service_.ProcessId());
    platform::ProcessResources start;
    if (!Sample(start)) return false;
    std::printf("at start: RSS %s, handles %u\n", Megabytes(start.residentBytes).c_str(), start.handles);
    std::fflush(stdout);

    if (!WarmUp()) Failed("the warm-up requests were not all answered");
    Planner planner(options_.seed);
    for (uint32_t round = 1;; ++round) {
      const std::vector<Plan> plans = planner.Round(options_.connections);
      const RoundResult result = RunRound(plans, kPort, options_.seed + round);
      Count(result);
      for (const std::string& failure : result.failures)
        Failed("round " + std::to_string(round) + ": " + failure);

      const int64_t heartbeat = HeartbeatMs(round);
      if (heartbeat < 0 || heartbeat > kHeartbeatBoundMs) {
        Failed("round " + std::to_string(round) + ": a fresh heartbeat was not answered within " +
               std::to_string(kHeartbeatBoundMs) + " ms");
      }
      platform::ProcessResources settled;
      if (!Settle(round == 1, settled)) return false;
      if (round == 1) idle_ = settled;
      CheckResources(round, settled);
      if (MsSince(start_) >= kWarmAfterMs) warm_.push_back(settled.residentBytes);
      std::printf(
          "round %u (%lld s): %u connections (%u open at most, %u refused), %llu frames, %llu answers, "
          "%u closed by the service; heartbeat %lld ms; RSS %s, handles %u%s\n",
          round, static_cast<long long>(MsSince(start_) / 1000), result.connections, result.peakOpen,
          result.refused, static_cast<unsigned long long>(result.framesSent),
          static_cast<unsigned long long>(result.answers), result.closedByService,
          static_cast<long long>(heartbeat), Megabytes(settled.residentBytes).c_str(), settled.handles,
          round == 1 ? " (the idle level from here on)" : "");
      std::fflush(stdout);
      rounds_ = round;
      if (options_.rounds != 0 && round >= options_.rounds) break;
      if (MsSince(start_) >= static_cast<int64_t>(options_.seconds) * 1000) break;
    }
    CheckTrend();
    return true;
  }

  void Summarise(bool stoppedCleanly) const {
    std::printf(
        "summary: %u rounds in %lld s, seed %llu: %llu connections, %llu frames, %llu answers, "
        "%llu closed by the service, %llu refused\n",
        rounds_, static_cast<long long>(MsSince(start_) / 1000),
        static_cast<unsigned long long>(options_.seed), connections_, frames_, answers_, closedByService_,
        refused_);
    std::printf(
        "memory: idle %s, highest after a round %s (allowed %s); handles: idle %u, highest after a "
        "round %u%s\n",
        Megabytes(idle_.residentBytes).c_str(), Megabytes(highest_.residentBytes).c_str(),
        Megabytes(idle_.residentBytes + kMemorySlackBytes).c_str(), idle_.handles, highest_.handles,
        options_.checkHandles ? (" (allowed " + std::to_string(idle_.handles + kHandleSlack) + ")").c_str()
                              : " (reported, not checked)");
    std::printf("stop: %s\n", stoppedCleanly ? "clean, with the finish line in the log" : "NOT clean");
    for (const std::string& failure : failures_) std::printf("FAILED: %s\n", failure.c_str());
    std::printf("%s\n", failures_.empty() && stoppedCleanly ? "PASSED" : "FAILED");
  }

  void Failed(const std::string& failure) {
    failures_.push_back(failure);
    std::printf("  failure: %s\n", failure.c_str());
  }
  bool Passed() const { return failures_.empty(); }

 private:
  bool Sample(platform::ProcessResources& resources) {
    if (platform::ReadProcessResources(service_.ProcessId(), resources)) return true;
    Failed("the service's resources cannot be read: " + std::to_string(platform::GetSystemError()));
    return false;
  }

  // Waits until the service has let go of the round: back at the idle handle count when that is
  // checked, otherwise a handle count that no longer falls.
  bool Settle(bool first, platform::ProcessResources& settled) {
    const Clock::time_point start = Clock::now();
    platform::ProcessResources previous;
    if (!Sample(previous)) return false;
    uint32_t steadyMs = 0;
    while (MsSince(start) < kSettleMs) {
      platform::SleepMs(kSamplePollMs);
      if (!Sample(settled)) return false;
      if (!first && options_.checkHandles && settled.handles <= idle_.handles + kHandleSlack) return true;
      steadyMs = settled.handles < previous.handles ? 0 : steadyMs + kSamplePollMs;
      if ((first || !options_.checkHandles) && steadyMs >= 1000) return true;
      previous = settled;
    }
    return true;
  }

  void CheckResources(uint32_t round, const platform::ProcessResources& settled) {
    highest_.residentBytes = std::max(highest_.residentBytes, settled.residentBytes);
    highest_.handles = std::max(highest_.handles, settled.handles);
    if (round == 1) return;
    if (settled.residentBytes > idle_.residentBytes + kMemorySlackBytes) {
      Failed("round " + std::to_string(round) + ": resident memory " + Megabytes(settled.residentBytes) +
             " stays above the idle " + Megabytes(idle_.residentBytes) + " by more than " +
             Megabytes(kMemorySlackBytes));
    }
    if (options_.checkHandles && settled.handles > idle_.handles + kHandleSlack) {
      Failed("round " + std::to_string(round) + ": " + std::to_string(settled.handles) +
             " handles, idle was " + std::to_string(idle_.handles) + " (allowed " +
             std::to_string(idle_.handles + kHandleSlack) + ")");
    }
  }

  void CheckTrend() {
    if (warm_.size() < kFewestTrendRounds) return;
    const size_t third = warm_.size() / 3;
    uint64_t early = 0;
    uint64_t late = 0;
    for (size_t i = 0; i < third; ++i) {
      early += warm_[i];
      late += warm_[warm_.size() - 1 - i];
    }
    early /= third;
    late /= third;
    std::printf("memory trend after the first minute: %s in the first third of the rounds, %s in the last\n",
                Megabytes(early).c_str(), Megabytes(late).c_str());
    if (late > early + kTrendSlackBytes) {
      Failed("resident memory keeps rising: " + Megabytes(early) + " to " + Megabytes(late));
    }
  }

  void Count(const RoundResult& result) {
    connections_ += result.connections;
    frames_ += result.framesSent;
    answers_ += result.answers;
    closedByService_ += result.closedByService;
    refused_ += result.refused;
  }

  const Options options_;
  ServiceUnderTest& service_;
  const Clock::time_point start_ = Clock::now();
  platform::ProcessResources idle_;
  platform::ProcessResources highest_;
  std::vector<uint64_t> warm_;  // resident bytes after each round of the warm pools
  uint32_t rounds_ = 0;
  unsigned long long connections_ = 0, frames_ = 0, answers_ = 0, closedByService_ = 0, refused_ = 0;
  std::vector<std::string> failures_;
};

}  // namespace
}  // namespace qolv::chaos

int main(int argc, char** argv) {
  using namespace qolv::chaos;
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!qolv::platform::StartSocketLibrary()) {
    std::fputs("the socket library cannot be started\n", stderr);
    return 1;
  }
  int exitCode = 1;
  {
    ServiceUnderTest service;
    std::string problem;
    const ServiceUnderTest::Start started = service.Begin(problem);
    if (started != ServiceUnderTest::Start::kListening) {
      std::printf("%s\n", problem.c_str());
      exitCode = started == ServiceUnderTest::Start::kPortTaken ? kPortTaken : 1;
    } else {
      Soak soak(options, service);
      soak.Run();
      const bool stopped = service.Stop(problem);
      if (!stopped) soak.Failed(problem);
      const bool finished = service.LogText().find(kFinishLine) != std::string::npos;
      if (stopped && !finished) soak.Failed("the log has no finish line after the stop");
      soak.Summarise(stopped && finished);
      exitCode = soak.Passed() ? 0 : 1;
    }
  }
  qolv::platform::StopSocketLibrary();
  std::fflush(stdout);
  return exitCode;
}

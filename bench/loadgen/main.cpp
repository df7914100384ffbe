// qolv-loadgen: drives a frame server on this machine and prints one summary line.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "big_body_run.h"
#include "flood_run.h"
#include "load_options.h"
#include "load_run.h"

namespace {

volatile int stopRequested = 0;

void OnStopSignal(int) { stopRequested = 1; }

// Opens a run's connections, runs it and prints its line; the exit code says whether it was clean.
template <typename Run, typename Format>
int RunOnce(const qolv::bench::LoadOptions& options, Format format) {
  Run run(options, stopRequested);
  if (!run.Open()) {
    std::fprintf(stderr, "qolv-loadgen: no connection to %s port %u could be opened\n", options.host.c_str(),
                 static_cast<unsigned>(options.port));
    return 1;
  }
  const auto summary = run.Run();
  std::printf("%s\n", format(summary).c_str());
  std::fflush(stdout);
  return summary.errors == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qolv::bench;
  LoadOptions options;
  const std::string complaint = ParseLoadOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (options.help) {
    std::fputs(LoadUsage().c_str(), stdout);
    return 0;
  }
  if (!complaint.empty()) {
    std::fprintf(stderr, "qolv-loadgen: %s\n%s", complaint.c_str(), LoadUsage().c_str());
    return 2;
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGPIPE, SIG_IGN);

  if (options.mode == LoadMode::kFlood) return RunOnce<FloodRun>(options, FormatFloodSummary);
  if (options.mode == LoadMode::kBigBody) return RunOnce<BigBodyRun>(options, FormatBigBodySummary);

  LoadRun run(options, stopRequested);
  if (!run.Open()) {
    std::fprintf(stderr, "qolv-loadgen: no connection to %s port %u could be opened\n", options.host.c_str(),
                 static_cast<unsigned>(options.port));
    return 1;
  }
  const RunSummary summary = run.Run();
  std::printf("%s\n", FormatSummary(summary).c_str());
  std::fflush(stdout);
  if (options.mode == LoadMode::kConnectOnly) run.Hold(options.holdS);
  return summary.errors == 0 ? 0 : 1;
}

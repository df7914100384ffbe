// Lines per second the log writer puts into the day's file, from one and from four threads.
// The debugger output is muted so that the figure is the file path alone: this program links its
// own, silent DebugOutput in the place of the system's.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "log/logger.h"
#include "platform/debug_output.h"
#include "platform/process_info.h"

void qolv::platform::DebugOutput(const char*) {}
void qolv::platform::DebugOutputWide(const wchar_t*) {}

namespace {

namespace fs = std::filesystem;

std::unique_ptr<qolv::Logger> g_logger;
fs::path g_folder;

void BM_LogLineToFile(benchmark::State& state) {
  if (state.thread_index() == 0) {
    g_folder =
        fs::temp_directory_path() / ("qolv-log-bench-" + std::to_string(qolv::platform::CurrentProcessId()));
    fs::create_directories(g_folder);
    g_logger = std::make_unique<qolv::Logger>(
        qolv::LoggerEnvironment{(g_folder / "Proxy.exe").string(), &qolv::platform::LocalNow});
    g_logger->Configure();
  }
  int i = 0;
  for (auto _ : state) {
    g_logger->Print(qolv::DBG_INFO,
                    "OnReceive, connid=%u, length=%d, a line of a typical length for the service", 7u, ++i);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    g_logger.reset();
    fs::remove_all(g_folder);
  }
}
BENCHMARK(BM_LogLineToFile)->Threads(1)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_LogLineToFile)->Threads(4)->Iterations(5000)->UseRealTime();

}  // namespace

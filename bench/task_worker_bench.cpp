// How fast the polled task queue can be drained: the real length of the 1 ms sleep between
// polls sets the ceiling of tasks per second that four workers allow.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include "platform/clock.h"
#include "request/task_worker.h"

namespace {

void BM_SleepOneMillisecond(benchmark::State& state) {
  for (auto _ : state) qolv::platform::SleepMs(1);
  // Each worker takes at most one task per sleep.
  state.counters["four_worker_ceiling_tasks"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * qolv::TaskWorker::kWorkerCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SleepOneMillisecond)->Iterations(500)->UseRealTime()->Unit(benchmark::kMicrosecond);

class CountingTask : public qolv::Task {
 public:
  explicit CountingTask(std::atomic<int>& done) : done_(done) {}
  void Run() override { done_.fetch_add(1, std::memory_order_relaxed); }

 private:
  std::atomic<int>& done_;
};

// Queues a batch of empty tasks, then measures how long four workers take to run them all.
void BM_DrainEmptyTasks(benchmark::State& state) {
  constexpr int kTasks = 2000;
  constexpr uint32_t kDeadlineMs = 60000;
  for (auto _ : state) {
    std::atomic<int> done{0};
    qolv::TaskWorker worker;
    for (int i = 0; i < kTasks; ++i) worker.Post(std::make_unique<CountingTask>(done));
    worker.Start();
    const uint32_t start = qolv::platform::TickCount();
    while (done.load(std::memory_order_relaxed) < kTasks &&
           qolv::platform::TickCount() - start < kDeadlineMs) {
      qolv::platform::SleepMs(1);
    }
    if (done.load() < kTasks) state.SkipWithError("tasks not drained within the deadline");
    worker.WaitForWorkers();
  }
  state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_DrainEmptyTasks)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

#include "request/task_worker.h"

#include <system_error>

#include "platform/clock.h"
#include "platform/crash_handler.h"
#include "request/worker_thread.h"

namespace qolv {
namespace {
// Thread creation only fails when the system is out of resources; a short pause may free some.
constexpr int kCreateAttempts = 100;
constexpr uint32_t kCreateRetryPauseMs = 10;
// How often a wait for the workers looks at their states.
constexpr uint32_t kWaitPollMs = 10;
}  // namespace

TaskWorker::~TaskWorker() { WaitForWorkers(); }

void TaskWorker::Post(std::unique_ptr<Task> task, uint64_t lane) {
  if (!task) return;
  std::lock_guard<platform::SlimLock> guard(queueLock_);
  std::deque<std::unique_ptr<Task>>& tasks = lanes_[lane];
  if (tasks.empty()) turns_.push_back(lane);
  tasks.push_back(std::move(task));
  queueCount_.fetch_add(1, std::memory_order_release);
}

bool TaskWorker::Start() {
  std::lock_guard<platform::SlimLock> guard(threadLock_);
  if (released_.load(std::memory_order_acquire)) return false;
  int created = 0;
  for (int attempt = 0; created < kWorkerCount && attempt < kCreateAttempts; ++attempt) {
    auto slot = std::make_unique<WorkerSlot>();
    slot->owner = this;
    try {
      slot->thread = StartWorkerThread(&TaskWorker::WorkerLoop, slot.get());
    } catch (const std::system_error&) {
      platform::SleepMs(kCreateRetryPauseMs);
      continue;
    }
    slots_[created++] = std::move(slot);
  }
  for (int i = 0; i < created; ++i) slots_[i]->state.store(WorkerSlot::kPolling, std::memory_order_release);
  threadCount_.store(created, std::memory_order_release);
  released_.store(true, std::memory_order_release);
  return created == kWorkerCount;
}

bool TaskWorker::WaitForWorkers(uint32_t timeoutMs, const std::function<void()>& progress) {
  RequestStop();
  std::lock_guard<platform::SlimLock> guard(threadLock_);
  // A thread cannot be joined with a time limit, so the wait watches the states the workers set
  // last and joins only those that have ended.
  const uint32_t start = platform::TickCount();
  uint32_t lastProgress = start;
  for (;;) {
    bool allEnded = true;
    for (const auto& slot : slots_) {
      if (slot && slot->thread.joinable() &&
          slot->state.load(std::memory_order_acquire) != WorkerSlot::kEnded) {
        allEnded = false;
      }
    }
    if (allEnded) break;
    const uint32_t now = platform::TickCount();
    if (progress && now - lastProgress >= kWaitProgressMs) {
      progress();
      lastProgress = now;
    }
    if (timeoutMs != platform::kInfinite && now - start >= timeoutMs) return false;
    platform::SleepMs(kWaitPollMs);
  }
  for (auto& slot : slots_) {
    if (slot && slot->thread.joinable()) slot->thread.join();
  }
  return true;
}

int32_t TaskWorker::WorkerState(size_t index) const {
  if (index >= slots_.size() || !slots_[index]) return -1;
  return slots_[index]->state.load(std::memory_order_acquire);
}

void TaskWorker::WorkerLoop(WorkerSlot* slot) {
  // An SDK call that overflows this thread's stack must still leave a crash dump.
  const platform::ThreadCrashStack crashStack;
  TaskWorker& owner = *slot->owner;
  // The gate is polled like the queue: the mingw runtime's std::atomic::wait can miss a wake-up.
  while (!owner.released_.load(std::memory_order_acquire)) platform::SleepMs(1);
  while (!owner.StopRequested()) {
    if (std::unique_ptr<Task> task = owner.TakeNext()) {
      slot->state.store(WorkerSlot::kRunning, std::memory_order_release);
      task->BeforeRun();
      task->Run();
      task->AfterRun();
    }
    slot->state.store(WorkerSlot::kPolling, std::memory_order_release);
    platform::SleepMs(1);
  }
  slot->state.store(WorkerSlot::kEnded, std::memory_order_release);
}

std::unique_ptr<Task> TaskWorker::TakeNext() {
  if (queueCount_.load(std::memory_order_acquire) == 0) return nullptr;
  std::lock_guard<platform::SlimLock> guard(queueLock_);
  if (turns_.empty()) return nullptr;
  const uint64_t lane = turns_.front();
  auto found = lanes_.find(lane);
  std::unique_ptr<Task> task = std::move(found->second.front());
  found->second.pop_front();
  // An emptied lane is forgotten, so lanes of closed connections cost nothing.
  if (found->second.empty()) {
    lanes_.erase(found);
    turns_.pop_front();
    takenInTurn_ = 0;
  } else if (++takenInTurn_ == kTurnLength) {
    turns_.pop_front();
    turns_.push_back(lane);
    takenInTurn_ = 0;
  }
  queueCount_.fetch_sub(1, std::memory_order_release);
  return task;
}

}  // namespace qolv

#include "request/task_worker.h"

#include <system_error>

#include "platform/clock.h"
#include "platform/crash_handler.h"

namespace qolv {
namespace {
// Thread creation only fails when the system is out of resources; a short pause may free some.
constexpr int kCreateAttempts = 100;
constexpr uint32_t kCreateRetryPauseMs = 10;
}  // namespace

TaskWorker::~TaskWorker() { WaitForWorkers(); }

void TaskWorker::Post(std::unique_ptr<Task> task) {
  if (!task) return;
  std::lock_guard<std::mutex> guard(queueLock_);
  queue_.push_back(std::move(task));
  queueCount_.fetch_add(1, std::memory_order_release);
}

bool TaskWorker::Start() {
  std::lock_guard<std::mutex> guard(threadLock_);
  if (released_.load(std::memory_order_acquire)) return false;
  int created = 0;
  for (int attempt = 0; created < kWorkerCount && attempt < kCreateAttempts; ++attempt) {
    auto slot = std::make_unique<WorkerSlot>();
    slot->owner = this;
    try {
      slot->thread = std::thread(&TaskWorker::WorkerLoop, slot.get());
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

void TaskWorker::WaitForWorkers() {
  RequestStop();
  std::lock_guard<std::mutex> guard(threadLock_);
  for (auto& slot : slots_) {
    if (slot && slot->thread.joinable()) slot->thread.join();
  }
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
    if (std::unique_ptr<Task> task = owner.TakeOldest()) {
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

std::unique_ptr<Task> TaskWorker::TakeOldest() {
  if (queueCount_.load(std::memory_order_acquire) == 0) return nullptr;
  std::lock_guard<std::mutex> guard(queueLock_);
  if (queue_.empty()) return nullptr;
  std::unique_ptr<Task> task = std::move(queue_.front());
  queue_.pop_front();
  queueCount_.fetch_sub(1, std::memory_order_release);
  return task;
}

}  // namespace qolv

#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "request/task.h"

namespace qolv {

class TaskWorker;

// The record of one worker thread.
struct WorkerSlot {
  enum State : int32_t { kCreated = 0, kPolling = 1, kRunning = 2, kEnded = 3 };

  std::atomic<int32_t> state{kCreated};
  std::thread thread;
  TaskWorker* owner = nullptr;
};

// A first-in, first-out task queue served by four threads that poll it every millisecond.
// Posting never blocks on a worker and wakes nobody, so the I/O threads that post stay cheap.
class TaskWorker {
 public:
  static constexpr int kWorkerCount = 4;
  static constexpr size_t kSlotCount = 8;

  TaskWorker() = default;
  // Raises the stop flag, waits for running tasks to end, and deletes queued tasks unrun.
  ~TaskWorker();
  TaskWorker(const TaskWorker&) = delete;
  TaskWorker& operator=(const TaskWorker&) = delete;

  // Appends a task; safe from any thread, also before Start and after the stop flag (such a
  // task then only waits for its deletion). A null task is ignored.
  void Post(std::unique_ptr<Task> task);

  // Creates the four workers and releases them together. False when called again, or when
  // fewer than four threads could be created (those that were run anyway).
  bool Start();

  // Workers finish the task in hand and leave their loop at the next poll; queued tasks stay.
  void RequestStop() { stop_.store(true, std::memory_order_release); }
  bool StopRequested() const { return stop_.load(std::memory_order_acquire); }

  // Raises the stop flag and returns once every worker has left its loop, so that nothing a task
  // uses is torn down under it. Not to be called from a task.
  void WaitForWorkers();

  int ThreadCount() const { return threadCount_.load(std::memory_order_acquire); }
  size_t QueuedCount() const { return queueCount_.load(std::memory_order_acquire); }
  // The state of worker index (WorkerSlot::State), or -1 for a slot without a worker.
  int32_t WorkerState(size_t index) const;

 private:
  static void WorkerLoop(WorkerSlot* slot);
  std::unique_ptr<Task> TakeOldest();

  std::array<std::unique_ptr<WorkerSlot>, kSlotCount> slots_;
  std::mutex threadLock_;
  std::deque<std::unique_ptr<Task>> queue_;
  std::atomic<uint32_t> queueCount_{0};  // read without the lock as a hint only
  std::mutex queueLock_;
  std::atomic<int> threadCount_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};  // the start gate all workers wait at
};

}  // namespace qolv

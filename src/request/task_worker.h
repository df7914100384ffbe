#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/clock.h"
#include "platform/slim_lock.h"
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

// A task queue served by four threads that poll it every millisecond. Tasks are posted into
// lanes (the request handling uses one per connection): each lane is first in, first out, and
// the lanes with queued tasks take turns, so a lane with thousands of tasks queued delays another
// lane's next task by one turn, not by its whole backlog. Tasks of one lane may still run at the
// same time on different workers. Posting never blocks on a worker and wakes nobody, so the I/O
// threads that post stay cheap.
class TaskWorker {
 public:
  static constexpr int kWorkerCount = 4;
  static constexpr size_t kSlotCount = 8;
  // Tasks a lane gives out in one turn: one for each worker. Answers a client's requests got
  // together then also leave together, where one task a turn would spread them over separate
  // sends, wake-ups and reads.
  static constexpr uint32_t kTurnLength = kWorkerCount;
  // How often a bounded WaitForWorkers says it is still waiting.
  static constexpr uint32_t kWaitProgressMs = 1000;

  TaskWorker() = default;
  // Raises the stop flag, waits without limit for running tasks to end, and deletes queued tasks
  // unrun.
  ~TaskWorker();
  TaskWorker(const TaskWorker&) = delete;
  TaskWorker& operator=(const TaskWorker&) = delete;

  // Appends a task to its lane; safe from any thread, also before Start and after the stop flag
  // (such a task then only waits for its deletion). A null task is ignored.
  void Post(std::unique_ptr<Task> task, uint64_t lane = 0);

  // Creates the four workers and releases them together. False when called again, or when
  // fewer than four threads could be created (those that were run anyway).
  bool Start();

  // Workers finish the task in hand and leave their loop at the next poll; queued tasks stay.
  void RequestStop() { stop_.store(true, std::memory_order_release); }
  bool StopRequested() const { return stop_.load(std::memory_order_acquire); }

  // Raises the stop flag and waits until every worker has left its loop, so that nothing a task
  // uses is torn down under it; at most timeoutMs (platform::kInfinite: no limit), calling
  // progress about every kWaitProgressMs meanwhile. True once all have ended; false when a task
  // still runs, whose worker is left as it is. Not to be called from a task.
  bool WaitForWorkers(uint32_t timeoutMs = platform::kInfinite, const std::function<void()>& progress = {});

  int ThreadCount() const { return threadCount_.load(std::memory_order_acquire); }
  size_t QueuedCount() const { return queueCount_.load(std::memory_order_acquire); }
  // The state of worker index (WorkerSlot::State), or -1 for a slot without a worker.
  int32_t WorkerState(size_t index) const;

 private:
  static void WorkerLoop(WorkerSlot* slot);
  // The oldest task of the lane whose turn it is.
  std::unique_ptr<Task> TakeNext();

  std::array<std::unique_ptr<WorkerSlot>, kSlotCount> slots_;
  platform::SlimLock threadLock_;
  // Under queueLock_: the queued tasks by lane, and the lanes that have any, in turn order.
  std::unordered_map<uint64_t, std::deque<std::unique_ptr<Task>>> lanes_;
  std::deque<uint64_t> turns_;
  uint32_t takenInTurn_ = 0;  // by the lane in front
  std::atomic<uint32_t> queueCount_{0};  // read without the lock as a hint only
  platform::SlimLock queueLock_;
  std::atomic<int> threadCount_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> released_{false};  // the start gate all workers wait at
};

}  // namespace qolv

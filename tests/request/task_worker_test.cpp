#include "request/task_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "support/request/worker_thread_limit.h"

namespace qolv {
namespace {

// Generous, so that a slow shared machine never fails a test by waiting.
constexpr auto kPatience = std::chrono::seconds(30);

// What the tasks of one test did, observed under one lock.
struct Journal {
  std::mutex mutex;
  std::condition_variable changed;
  bool gateOpen = false;
  int begun = 0;
  int destroyed = 0;
  std::vector<int> finished;

  template <class Predicate>
  bool WaitUntil(Predicate done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kPatience, [&] { return done(); });
  }
  void OpenGate() {
    std::lock_guard<std::mutex> guard(mutex);
    gateOpen = true;
    changed.notify_all();
  }
};

class JournalTask : public Task {
 public:
  JournalTask(Journal& journal, int id, bool waitForGate)
      : journal_(journal), id_(id), waitForGate_(waitForGate) {}
  ~JournalTask() override {
    std::lock_guard<std::mutex> guard(journal_.mutex);
    ++journal_.destroyed;
    journal_.changed.notify_all();
  }
  void Run() override {
    std::unique_lock<std::mutex> lock(journal_.mutex);
    ++journal_.begun;
    journal_.changed.notify_all();
    if (waitForGate_) journal_.changed.wait_for(lock, kPatience, [&] { return journal_.gateOpen; });
    journal_.finished.push_back(id_);
    journal_.changed.notify_all();
  }

 private:
  Journal& journal_;
  int id_;
  bool waitForGate_;
};

void PostTask(TaskWorker& worker, Journal& journal, int id, bool waitForGate = false, uint64_t lane = 0) {
  worker.Post(std::make_unique<JournalTask>(journal, id, waitForGate), lane);
}

TEST(TaskWorker, TasksPostedBeforeStartRunOldestFirst) {
  Journal journal;
  TaskWorker worker;
  // Three tasks hold three workers, so the fourth worker alone shows the order of the rest.
  for (int id = 100; id < 103; ++id) PostTask(worker, journal, id, true);
  for (int id = 0; id < 10; ++id) PostTask(worker, journal, id);
  EXPECT_EQ(worker.QueuedCount(), 13u);
  ASSERT_TRUE(worker.Start());
  EXPECT_EQ(worker.ThreadCount(), 4);

  ASSERT_TRUE(journal.WaitUntil([&] { return journal.finished.size() == 10; }));
  {
    std::lock_guard<std::mutex> guard(journal.mutex);
    EXPECT_EQ(journal.finished, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  }
  journal.OpenGate();
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.destroyed == 13; }));
}

// A lane with a backlog delays another lane's tasks by one turn, and each lane keeps its order.
TEST(TaskWorker, LanesTakeTurnsAndEachKeepsItsOrder) {
  Journal journal;
  TaskWorker worker;
  for (uint64_t lane = 100; lane < 103; ++lane) PostTask(worker, journal, static_cast<int>(lane), true, lane);
  constexpr int kBacklog = 2 * TaskWorker::kTurnLength + 1;
  for (int id = 0; id < kBacklog; ++id) PostTask(worker, journal, id, false, 1);
  PostTask(worker, journal, 1000, false, 2);
  PostTask(worker, journal, 1001, false, 2);
  ASSERT_TRUE(worker.Start());

  std::vector<int> expected;
  for (int id = 0; id < kBacklog; ++id) {
    expected.push_back(id);
    if (id + 1 == TaskWorker::kTurnLength) expected.insert(expected.end(), {1000, 1001});
  }
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.finished.size() == expected.size(); }));
  {
    std::lock_guard<std::mutex> guard(journal.mutex);
    EXPECT_EQ(journal.finished, expected);
  }
  journal.OpenGate();
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.destroyed == kBacklog + 5; }));
  EXPECT_EQ(worker.QueuedCount(), 0u);
}

TEST(TaskWorker, FourLongTasksOccupyAllWorkersAndAFifthWaits) {
  Journal journal;
  TaskWorker worker;
  ASSERT_TRUE(worker.Start());
  EXPECT_FALSE(worker.Start());
  for (int id = 0; id < 4; ++id) PostTask(worker, journal, id, true);
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.begun == 4; }));
  for (size_t slot = 0; slot < 4; ++slot) EXPECT_EQ(worker.WorkerState(slot), WorkerSlot::kRunning);
  EXPECT_EQ(worker.WorkerState(4), -1);

  PostTask(worker, journal, 4);
  platform::SleepMs(100);  // plenty of polls in which a free worker would have taken it
  EXPECT_EQ(worker.QueuedCount(), 1u);
  {
    std::lock_guard<std::mutex> guard(journal.mutex);
    EXPECT_EQ(journal.begun, 4);
  }
  journal.OpenGate();
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.finished.size() == 5; }));
  EXPECT_EQ(worker.QueuedCount(), 0u);
}

TEST(TaskWorker, StopLeavesQueuedTasksUnrunAndDestructionDeletesThem) {
  Journal journal;
  auto worker = std::make_unique<TaskWorker>();
  ASSERT_TRUE(worker->Start());
  for (int id = 0; id < 4; ++id) PostTask(*worker, journal, id, true);
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.begun == 4; }));
  PostTask(*worker, journal, 10);
  PostTask(*worker, journal, 11);
  worker->RequestStop();
  PostTask(*worker, journal, 12);
  // A bounded wait gives up on tasks that do not end, saying meanwhile that it still waits.
  int progress = 0;
  EXPECT_FALSE(worker->WaitForWorkers(TaskWorker::kWaitProgressMs + 100, [&] { ++progress; }));
  EXPECT_GE(progress, 1);
  for (size_t slot = 0; slot < 4; ++slot) EXPECT_EQ(worker->WorkerState(slot), WorkerSlot::kRunning);
  journal.OpenGate();
  EXPECT_TRUE(worker->WaitForWorkers());

  for (size_t slot = 0; slot < 4; ++slot) EXPECT_EQ(worker->WorkerState(slot), WorkerSlot::kEnded);
  EXPECT_EQ(worker->QueuedCount(), 3u);
  {
    std::lock_guard<std::mutex> guard(journal.mutex);
    std::vector<int> finished = journal.finished;
    std::sort(finished.begin(), finished.end());
    EXPECT_EQ(finished, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(journal.destroyed, 4);
  }
  worker.reset();
  std::lock_guard<std::mutex> guard(journal.mutex);
  EXPECT_EQ(journal.destroyed, 7);
  EXPECT_EQ(journal.finished.size(), 4u);
}

// The system refuses threads after the second: Start says it failed, and the two workers it made
// serve the queue until they are stopped.
TEST(TaskWorker, StartWithFewerThanFourThreadsFailsAndTheOthersStillServe) {
  Journal journal;
  TaskWorker worker;
  testing::LimitWorkerThreads(2);
  const bool started = worker.Start();
  testing::LimitWorkerThreads(-1);
  EXPECT_FALSE(started);
  EXPECT_EQ(worker.ThreadCount(), 2);
  EXPECT_EQ(worker.WorkerState(2), -1);
  for (int id = 0; id < 3; ++id) PostTask(worker, journal, id);
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.finished.size() == 3; }));
  EXPECT_TRUE(worker.WaitForWorkers());
  EXPECT_EQ(worker.WorkerState(1), WorkerSlot::kEnded);
}

class SlowTask : public Task {
 public:
  SlowTask(Journal& journal) : journal_(journal) {}
  void Run() override {
    {
      std::lock_guard<std::mutex> guard(journal_.mutex);
      ++journal_.begun;
      journal_.changed.notify_all();
    }
    platform::SleepMs(200);
    std::lock_guard<std::mutex> guard(journal_.mutex);
    journal_.finished.push_back(1);
  }

 private:
  Journal& journal_;
};

TEST(TaskWorker, DestructionWaitsForTheRunningTask) {
  Journal journal;
  auto worker = std::make_unique<TaskWorker>();
  ASSERT_TRUE(worker->Start());
  worker->Post(std::make_unique<SlowTask>(journal));
  ASSERT_TRUE(journal.WaitUntil([&] { return journal.begun == 1; }));
  worker.reset();  // without RequestStop: the destructor must stop and wait by itself
  std::lock_guard<std::mutex> guard(journal.mutex);
  EXPECT_EQ(journal.finished.size(), 1u);
}

}  // namespace
}  // namespace qolv

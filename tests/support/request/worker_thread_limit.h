#pragma once
// Test programs link a StartWorkerThread of their own (worker_thread_limit.cpp) that can refuse
// task-worker threads, as a system out of resources does.

namespace qolv::testing {

// Lets count more task-worker threads start and refuses the rest; a negative count lifts the limit.
void LimitWorkerThreads(int count);

}  // namespace qolv::testing

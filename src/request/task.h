#pragma once

namespace qolv {

// A unit of work run once by a TaskWorker thread, which deletes it afterwards.
class Task {
 public:
  virtual ~Task() = default;
  virtual void BeforeRun() {}
  virtual void Run() = 0;
  virtual void AfterRun() {}
};

}  // namespace qolv

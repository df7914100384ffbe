#pragma once
// The fake SDK's file and its usage counters, read through a second reference to the library
// that the code under test loaded.
#include <functional>
#include <string>

#include "fake_sdk.h"
#include "support/sdk/sdk_library.h"

namespace qolv::testing {

// A library file name in the test program's folder, with the platform's extension.
std::string LibraryName(const char* stem);
// The full path of the fake SDK beside the test program.
std::string FakeSdkPath();

class FakeSdkUsage {
 public:
  // Loads the fake SDK and sets its counters to zero.
  FakeSdkUsage();
  FakeSdkCounters Counters() const;
  // The counters once done(counters) holds, or as they are when a generous limit ran out. The
  // SDK gets its answer texts back after they were sent, so a client may see an answer before.
  FakeSdkCounters CountersWhen(const std::function<bool(const FakeSdkCounters&)>& done) const;

 private:
  SdkLibrary library_;
  FakeSdkReadCountersFn read_ = nullptr;
};

}  // namespace qolv::testing

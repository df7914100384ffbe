#include "support/request/fake_sdk_usage.h"

#include "platform/clock.h"
#include "platform/dynamic_library.h"

namespace qolv::testing {

std::string LibraryName(const char* stem) { return std::string(stem) + platform::kLibraryExtension; }

std::string FakeSdkPath() { return platform::PathBesideExecutable(LibraryName("FakeQolvSdk").c_str()); }

FakeSdkUsage::FakeSdkUsage() : library_(LibraryName("FakeQolvSdk")) {
  read_ = library_.Symbol<FakeSdkReadCountersFn>("FakeSdkReadCounters");
  library_.Symbol<FakeSdkResetCountersFn>("FakeSdkResetCounters")();
}

FakeSdkCounters FakeSdkUsage::Counters() const {
  FakeSdkCounters counters{};
  read_(&counters);
  return counters;
}

FakeSdkCounters FakeSdkUsage::CountersWhen(const std::function<bool(const FakeSdkCounters&)>& done) const {
  constexpr int kPolls = 30000;  // 1 ms apart: about 30 s
  FakeSdkCounters counters = Counters();
  for (int poll = 0; poll < kPolls && !done(counters); ++poll) {
    platform::SleepMs(1);
    counters = Counters();
  }
  return counters;
}

}  // namespace qolv::testing

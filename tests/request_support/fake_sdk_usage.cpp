#include "request_support/fake_sdk_usage.h"

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

}  // namespace qolv::testing

#include "fake_sdk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "support/sdk/sdk_library.h"

namespace qolv::testing {
namespace {

class FakeSdk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sdk_ = new SdkLibrary(std::string("FakeQolvSdk") + platform::kLibraryExtension);
  }
  static void TearDownTestSuite() {
    delete sdk_;
    sdk_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(sdk_->ready()) << sdk_->problem();
    read_ = sdk_->Symbol<FakeSdkReadCountersFn>("FakeSdkReadCounters");
    reset_ = sdk_->Symbol<FakeSdkResetCountersFn>("FakeSdkResetCounters");
    ASSERT_TRUE(read_ != nullptr && reset_ != nullptr);
    reset_();
  }

  FakeSdkCounters Counters() const {
    FakeSdkCounters counters{};
    read_(&counters);
    return counters;
  }

  static SdkLibrary* sdk_;
  FakeSdkReadCountersFn read_ = nullptr;
  FakeSdkResetCountersFn reset_ = nullptr;
};

SdkLibrary* FakeSdk::sdk_ = nullptr;

TEST_F(FakeSdk, ParamTextChoosesTheAnswer) {
  struct Case {
    const char* param;
    bool accepted;
    const char* text;  // null: no response text
  };
  const Case cases[] = {
      {"refuse", false, nullptr},
      {"null", true, nullptr},
      {"empty", true, ""},
      {"text={\"a\":1};b", true, "{\"a\":1};b"},
      {"text=", true, ""},
      {"echo", true, "someApi|echo"},
      {"", true, "someApi|"},
      {"{\"name\":\"x\"}", true, "someApi|{\"name\":\"x\"}"},
      {"delay=1;text=late", true, "late"},
      {"gather=1;delay=0;refuse", false, nullptr},
      {"delay=x;text=late", true, "someApi|delay=x;text=late"},
      {"delay=5", true, "someApi|delay=5"},
      {"refuse ", true, "someApi|refuse "},
  };
  for (const Case& c : cases) {
    const SdkLibrary::Reply reply = sdk_->Call("someApi", c.param);
    EXPECT_EQ(reply.accepted, c.accepted) << c.param;
    ASSERT_EQ(reply.text.has_value(), c.text != nullptr) << c.param;
    if (c.text != nullptr) {
      EXPECT_EQ(*reply.text, c.text) << c.param;
    }
  }
  const FakeSdkCounters counters = Counters();
  EXPECT_EQ(counters.calls, static_cast<int64_t>(std::size(cases)));
  EXPECT_EQ(counters.refused, 2);
  EXPECT_EQ(counters.frees, counters.calls - 3);  // the helper frees every text it got
  EXPECT_EQ(counters.strayFrees, 0);
  EXPECT_EQ(counters.outstanding, 0);
  EXPECT_EQ(counters.inFlight, 0);
}

TEST_F(FakeSdk, CountersFollowInitCallsAndFrees) {
  sdk_->init();
  sdk_->init();
  sdk_->uninit();
  char* first = nullptr;
  char* second = nullptr;
  ASSERT_TRUE(sdk_->invoke("a", "text=1", &first));
  ASSERT_TRUE(sdk_->invoke("b", "text=2", &second));
  EXPECT_EQ(Counters().outstanding, 2);
  sdk_->free(first);
  sdk_->free(first);    // freed twice
  sdk_->free(nullptr);  // never handed out
  FakeSdkCounters counters = Counters();
  EXPECT_EQ(counters.initCalls, 2);
  EXPECT_EQ(counters.uninitCalls, 1);
  EXPECT_EQ(counters.calls, 2);
  EXPECT_EQ(counters.frees, 3);
  EXPECT_EQ(counters.strayFrees, 2);
  EXPECT_EQ(counters.outstanding, 1);
  EXPECT_EQ(counters.maxInFlight, 1);

  reset_();  // takes back the second response, which a leak check would otherwise report
  counters = Counters();
  EXPECT_EQ(counters.initCalls + counters.calls + counters.frees + counters.outstanding, 0);
  sdk_->free(second);
  EXPECT_EQ(Counters().strayFrees, 1);
}

TEST_F(FakeSdk, CallsRunConcurrentlyAndACallIsSeenInProgress) {
  std::vector<std::thread> threads;
  std::vector<std::string> texts(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &texts] {
      const SdkLibrary::Reply reply = sdk_->Call("api", ("gather=4;text=" + std::to_string(t)).c_str());
      texts[t] = reply.text.value_or("none");
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(texts, (std::vector<std::string>{"0", "1", "2", "3"}));
  EXPECT_EQ(Counters().maxInFlight, 4);

  const auto start = std::chrono::steady_clock::now();
  std::thread slow([] { sdk_->Call("api", "delay=300;empty"); });
  bool seen = false;
  for (int i = 0; i < 2000 && !seen; ++i) {
    seen = Counters().inFlight == 1;
    if (!seen) platform::SleepMs(1);
  }
  slow.join();
  EXPECT_TRUE(seen);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(Counters().inFlight, 0);
}

}  // namespace
}  // namespace qolv::testing

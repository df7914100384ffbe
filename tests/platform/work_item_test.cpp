#include "platform/work_item.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/process_info.h"

namespace qolv::platform {
namespace {

struct Probe {
  std::promise<uint32_t> ranOnThread;
};

TEST(WorkItem, RunsOnceWithItsContextOnAnotherThreadWhileTheCallerGoesOn) {
  // The work item's thread may still be leaving set_value when the wait returns, so the probe
  // outlives the test.
  static Probe probe;
  std::future<uint32_t> ran = probe.ranOnThread.get_future();
  ASSERT_TRUE(QueueLongWorkItem(
      [](void* context) { static_cast<Probe*>(context)->ranOnThread.set_value(CurrentThreadId()); }, &probe));
  ASSERT_EQ(ran.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_NE(ran.get(), CurrentThreadId());
}

}  // namespace
}  // namespace qolv::platform

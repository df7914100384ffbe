// Every engine test program runs with the process-wide set-up the executable has before main.
#include <gtest/gtest.h>

#include <memory>

#include "net/engine_process_setup.h"

namespace qolv::net::testing {
namespace {

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setup_ = std::make_unique<CEngineProcessSetup>();
    ASSERT_TRUE(setup_->SocketsStarted());
  }
  void TearDown() override { setup_.reset(); }

 private:
  std::unique_ptr<CEngineProcessSetup> setup_;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

}  // namespace
}  // namespace qolv::net::testing

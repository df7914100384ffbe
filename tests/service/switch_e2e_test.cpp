// The test service program run with switches that must do nothing at all.
#include <gtest/gtest.h>

#include "support/service/test_service_runner.h"

namespace qolv::test {
namespace {

TEST(CommandLineProcess, UnknownSwitchesExitAtOnceWithoutOutput) {
  for (const char* arguments : {"-Install", "--install", "/REMOVE", "-", "/help install"}) {
    const RunResult result = RunTestService(arguments);
    EXPECT_EQ(result.exitCode, 0) << arguments;
    EXPECT_EQ(result.output, "") << arguments;
  }
}

}  // namespace
}  // namespace qolv::test

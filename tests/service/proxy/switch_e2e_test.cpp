// The built executable with switches it does not know: nothing is done or printed, exit code 0.
#include <gtest/gtest.h>

#include "support/service/proxy_process.h"

namespace qolv::testing {
namespace {

TEST(ServiceSwitches, UnknownSwitchesDoNothingAndExitZero) {
  for (const char* argument : {"-Install", "--remove", "/REMOVE", "-", "/help"}) {
    const ProgramRun run = RunBuiltService(argument);
    EXPECT_TRUE(run.ended) << argument;
    EXPECT_EQ(run.exitCode, 0u) << argument;
    EXPECT_EQ(run.output, "") << argument;
  }
}

}  // namespace
}  // namespace qolv::testing

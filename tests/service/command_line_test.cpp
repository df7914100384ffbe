#include "service/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qolv {
namespace {

CommandLineAction Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "QolvPrinterProxy.exe");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, OnlyExactSwitchesAfterADashOrSlashInstallOrRemove) {
  EXPECT_EQ(Parse({"-install"}), CommandLineAction::kInstall);
  EXPECT_EQ(Parse({"/install"}), CommandLineAction::kInstall);
  EXPECT_EQ(Parse({"-remove"}), CommandLineAction::kRemove);
  EXPECT_EQ(Parse({"/remove"}), CommandLineAction::kRemove);
  // Extra arguments after the switch are not looked at.
  EXPECT_EQ(Parse({"-install", "-remove"}), CommandLineAction::kInstall);
  EXPECT_EQ(Parse({"/remove", "extra"}), CommandLineAction::kRemove);
}

TEST(CommandLine, AnyOtherSwitchIsIgnored) {
  for (const char* argument : {"-Install", "/REMOVE", "--install", "//remove", "-", "/", "-installx",
                               "-remov", "- install", "-help"}) {
    EXPECT_EQ(Parse({argument}), CommandLineAction::kIgnore) << argument;
  }
}

TEST(CommandLine, NoArgumentOrANonSwitchRunsTheService) {
  EXPECT_EQ(Parse({}), CommandLineAction::kRunService);
  for (const char* argument : {"install", "remove", "", "x-install", " -install", "\\install"}) {
    EXPECT_EQ(Parse({argument}), CommandLineAction::kRunService) << '"' << argument << '"';
  }
}

TEST(CommandLine, DispatcherFailureGivesTheCodeInHexAndSignedDecimal) {
  testing::internal::CaptureStdout();
  PrintDispatcherFailure(1063);
  PrintDispatcherFailure(0x80070005u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Service failed to run w/err 0x00000427 or 1063 \n"
            "Service failed to run w/err 0x80070005 or -2147024891 \n");
}

}  // namespace
}  // namespace qolv

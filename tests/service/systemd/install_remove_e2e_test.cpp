// Installing and removing the service on Linux, against a unit folder of the test's own and a
// fake systemctl that records its calls and answers the states the test lines up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/service/systemd/shell.h"
#include "support/service/test_service_runner.h"

namespace qolv::test {
namespace {

namespace fs = std::filesystem;

// Appends its arguments to "calls"; is-active answers the first line of "states", dropping it
// while more than one is left, and exits 0 only for "active", as systemctl does.
constexpr char kFakeSystemctl[] = R"sh(#!/bin/sh
here=$(dirname "$0")
echo "$*" >> "$here/calls"
[ "$1" = is-active ] || exit 0
state=$(head -n 1 "$here/states" 2>/dev/null)
[ -n "$state" ] || state=inactive
if [ "$(wc -l < "$here/states" 2>/dev/null)" -gt 1 ]; then sed -i 1d "$here/states"; fi
echo "$state"
[ "$state" = active ]
)sh";

constexpr char kDescription[] =
    "该服务负责为LirraPOS系统提供业务支持。如果停止或禁用该服务，依赖于该服务的任何组件或应用程序都可能无法正"
    "常运行。";

std::string ExpectedUnit(const std::string& execStart) {
  return std::string("# QOLV Tovu PrinterProxy\n[Unit]\nDescription=") + kDescription +
         "\nStartLimitIntervalSec=10\nStartLimitBurst=3\n\n[Service]\nType=notify\nExecStart=" + execStart +
         "\nRestart=on-failure\nRestartSec=1\n";
}

class InstallRemove : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(Units());
    std::ofstream(Systemctl()) << kFakeSystemctl;
    fs::permissions(Systemctl(), fs::perms::owner_all);
  }

  fs::path Units() const { return folder_.path() / "units"; }
  fs::path Unit() const { return Units() / "QolvTovuPP.service"; }
  fs::path Systemctl() const { return folder_.path() / "systemctl"; }
  std::string Calls() const { return ReadText(folder_.path() / "calls"); }
  void ClearCalls() const { fs::remove(folder_.path() / "calls"); }
  void LineUpStates(const std::string& states) const { std::ofstream(folder_.path() / "states") << states; }

  std::string Run(const std::string& argument, const fs::path& program = TestServicePath()) const {
    const std::string environment = "QOLV_TEST_UNIT_DIR=" + ShellQuote(Units().string()) +
                                    " QOLV_TEST_SYSTEMCTL=" + ShellQuote(Systemctl().string());
    const RunResult result = RunTestServiceWith(environment, program, argument);
    EXPECT_EQ(result.exitCode, 0) << argument;
    return result.output;
  }

  TempFolder folder_;
};

TEST_F(InstallRemove, InstallOnceThenRemoveAStoppedServiceThenAMissingOne) {
  EXPECT_EQ(Run("-install"), "QolvTovuPP is installed.\n");
  EXPECT_EQ(ReadText(Unit()), ExpectedUnit(TestServicePath().string()));
  // The unit is loaded but neither enabled nor started.
  EXPECT_EQ(Calls(), "daemon-reload\ndaemon-reload\ndaemon-reload\n");

  ClearCalls();
  EXPECT_EQ(Run("/install"), "CreateService failed w/err 0x00000431\n");
  EXPECT_EQ(ReadText(Unit()), ExpectedUnit(TestServicePath().string()));
  EXPECT_EQ(Calls(), "");

  LineUpStates("inactive\n");
  EXPECT_EQ(Run("/remove"), "QolvTovuPP is removed.\n");
  EXPECT_FALSE(fs::exists(Unit()));
  EXPECT_EQ(Calls(), "is-active QolvTovuPP.service\ndaemon-reload\n");

  EXPECT_EQ(Run("-remove"), "OpenService failed w/err 0x00000424\n");
}

TEST_F(InstallRemove, RemoveStopsARunningServiceAndWaitsWhileItIsStopping) {
  ASSERT_EQ(Run("-install"), "QolvTovuPP is installed.\n");
  ClearCalls();
  // Running; stopping when the stop was sent and at two polls a second apart; then stopped.
  LineUpStates("active\ndeactivating\ndeactivating\ndeactivating\ninactive\n");
  EXPECT_EQ(Run("-remove"), "Stopping QolvTovuPP...\nQolvTovuPP is stopped.\nQolvTovuPP is removed.\n");
  EXPECT_NE(Calls().find("stop --no-block QolvTovuPP.service\n"), std::string::npos) << Calls();
  EXPECT_FALSE(fs::exists(Unit()));
}

TEST_F(InstallRemove, AStopThatEndsRunningIsReportedAndTheServiceStillRemoved) {
  ASSERT_EQ(Run("-install"), "QolvTovuPP is installed.\n");
  LineUpStates("active\ndeactivating\nactive\n");
  EXPECT_EQ(Run("-remove"), "Stopping QolvTovuPP.\nQolvTovuPP failed to stop.\nQolvTovuPP is removed.\n");
  EXPECT_FALSE(fs::exists(Unit()));
}

TEST_F(InstallRemove, APathWithABlankIsQuotedAndItsSpecialCharactersKept) {
  const fs::path copy = folder_.path() / "dir with blank %$" / "qolv_test_service";
  fs::create_directory(copy.parent_path());
  fs::copy_file(TestServicePath(), copy);
  fs::permissions(copy, fs::perms::owner_all);
  EXPECT_EQ(Run("-install", copy), "QolvTovuPP is installed.\n");
  // systemd would expand "%" and "$", so they are doubled.
  const std::string execStart =
      "\"" + (folder_.path() / "dir with blank %%$$" / "qolv_test_service").string() + "\"";
  EXPECT_EQ(ReadText(Unit()), ExpectedUnit(execStart));
}

TEST_F(InstallRemove, APathThatSystemdWouldSplitIsRefused) {
  for (const char* folder : {"tab\there", "quote\"d", "apos'd", "blank and \"quote\""}) {
    const fs::path copy = folder_.path() / folder / "qolv_test_service";
    fs::create_directory(copy.parent_path());
    fs::copy_file(TestServicePath(), copy);
    fs::permissions(copy, fs::perms::owner_all);
    EXPECT_EQ(Run("-install", copy), "CreateService failed w/err 0x00000057\n") << folder;
    EXPECT_FALSE(fs::exists(Unit())) << folder;
  }
}

TEST_F(InstallRemove, AMissingUnitFolderFailsToOpenTheManager) {
  fs::remove(Units());
  EXPECT_EQ(Run("-install"), "OpenSCManager failed w/err 0x00000002\n");
  EXPECT_EQ(Run("-remove"), "OpenSCManager failed w/err 0x00000002\n");
  EXPECT_EQ(Calls(), "");
}

}  // namespace
}  // namespace qolv::test

#include "platform/process_spawn.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/process_info.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

constexpr uint32_t kLimitMs = 60000;

std::string Probe() {
  return (std::filesystem::path(ExecutablePath()).parent_path() /
          (std::string("qolv_spawn_probe") + kExecutableSuffix))
      .string();
}

// Runs the probe to its end and returns what it wrote to standard output.
std::string Output(ChildProcess& child, const std::vector<std::string>& arguments,
                   const SpawnOptions& options = {}) {
  EXPECT_TRUE(child.Start(Probe(), arguments, options)) << GetSystemError();
  EXPECT_TRUE(child.Wait(kLimitMs));
  std::string text = child.StandardOutput();
  // The C runtime of the Windows build writes text with carriage returns.
  std::erase(text, '\r');
  return text;
}

TEST(ChildProcess, ArgumentsArriveIntactAndTheExitCodeComesBack) {
  ChildProcess child;
  const std::string shown =
      Output(child, {"args", "two words", "", "say \"hi\"", "back\\slash", "trailing\\", "end\\\\\"quote"});
  EXPECT_EQ(shown, "[two words]\n[]\n[say \"hi\"]\n[back\\slash]\n[trailing\\]\n[end\\\\\"quote]\n");
  EXPECT_TRUE(child.exit().exited);
  EXPECT_EQ(child.exit().exitCode, 0u);

  Output(child, {"exit", "42"});
  EXPECT_TRUE(child.exit().exited);
  EXPECT_EQ(child.exit().Termination(), 42u);
}

TEST(ChildProcess, EnvironmentIsAddedToOrReplacedAndTheFolderIsSet) {
  ChildProcess child;
  SpawnOptions options;
  options.environment = {"QOLV_SPAWN_PROBE=added value", "PATH=replaced"};
  EXPECT_EQ(Output(child, {"env", "QOLV_SPAWN_PROBE"}, options), "added value\n");
  EXPECT_EQ(Output(child, {"env", "PATH"}, options), "replaced\n");
  EXPECT_EQ(Output(child, {"env", "QOLV_SPAWN_PROBE"}), "(unset)\n");

  // A folder of a name of its own: the temporary folder itself may be reached by other spellings.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qolv-spawn-" + std::to_string(CurrentProcessId()));
  std::filesystem::create_directories(folder);
  options.workingDirectory = folder.string();
  const std::string shown = Output(child, {"cwd"}, options);
  std::filesystem::remove(folder);
  EXPECT_EQ(std::filesystem::path(shown.substr(0, shown.size() - 1)).filename(), folder.filename()) << shown;
}

TEST(ChildProcess, LargeOutputOnBothStreamsIsCollectedWhole) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(Probe(), {"flood", "1024"}));
  ASSERT_TRUE(child.Wait(kLimitMs));
  EXPECT_EQ(child.StandardOutput().size(), 1024u * 1024u);
  EXPECT_EQ(child.StandardError().size(), 1024u * 1024u);
}

TEST(ChildProcess, WaitEndsAtItsLimitAndKillOrAStopRequestEndsTheChild) {
  ChildProcess child;
  ASSERT_TRUE(child.Start(Probe(), {"wait"}));
  EXPECT_FALSE(child.Wait(50));
  child.Kill();
  ASSERT_TRUE(child.Wait(kLimitMs));
  EXPECT_TRUE(child.exit().exited ? child.exit().exitCode == 1 : child.exit().signal != 0);

  ASSERT_TRUE(child.Start(Probe(), {"wait"}));
  if (!child.RequestStop()) {
    EXPECT_EQ(GetSystemError(), 50u) << "only Windows lacks stop requests";
    child.Kill();
  }
  ASSERT_TRUE(child.Wait(kLimitMs));
  EXPECT_FALSE(child.exit().exited && child.exit().exitCode == 0) << "the child was ended, it did not finish";
}

TEST(ChildProcess, AProgramThatCannotRunIsReported) {
  ChildProcess child;
  const std::string missing = Probe() + "-missing";
  if (!child.Start(missing, {})) return;  // Windows knows at once
  ASSERT_TRUE(child.Wait(kLimitMs));
  EXPECT_TRUE(child.exit().exited);
  EXPECT_EQ(child.exit().exitCode, ChildProcess::kExecFailed);
}

}  // namespace
}  // namespace qolv::platform

#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/error_codes.h"
#include "platform/process_info.h"
#include "platform/system_error.h"
#include "support/utf8_path.h"

namespace qolv::platform {
namespace {

TEST(DynamicLibrary, PathBesideExecutableUsesTheExecutablesFolder) {
  SetSystemError(0);
  const std::string executable = ExecutablePath();
  const size_t cut = executable.find_last_of(kPathSeparator);
  ASSERT_NE(cut, std::string::npos) << "executable path \"" << executable << "\", system error "
                                    << GetSystemError();
  const std::string path = PathBesideExecutable("Some.dll");
  EXPECT_EQ(path, executable.substr(0, cut + 1) + "Some.dll") << "system error " << GetSystemError();
}

// From a copy in a folder whose name no ANSI code page holds: the path is UTF-8 throughout.
TEST(DynamicLibrary, LoadsALibraryAndFindsOnlyItsExports) {
  namespace fs = std::filesystem;
  const std::string name = std::string("FakeQolvSdk") + kLibraryExtension;
  const fs::path folder = testing::NonAsciiTemporaryPath("library-" + std::to_string(CurrentProcessId()));
  fs::create_directories(folder);
  fs::copy_file(testing::PathFromUtf8(PathBesideExecutable(name.c_str())), folder / name,
                fs::copy_options::overwrite_existing);
  const std::string path = testing::Utf8Of(folder / name);
  std::string detail = "untouched";
  LibraryHandle library = LoadDynamicLibrary(path.c_str(), &detail);
  ASSERT_NE(library, nullptr) << path << ": " << detail;
  EXPECT_EQ(detail, "untouched");
  for (const char* name : {"InitQolvTovuSDK", "UninitQolvTovuSDK", "InvokeQueryMethod", "FreeQueryResponse",
                           "FakeSdkReadCounters"}) {
    EXPECT_NE(FindLibrarySymbol(library, name), nullptr) << name;
  }
  SetSystemError(0);
  EXPECT_EQ(FindLibrarySymbol(library, "NoSuchEntryPoint"), nullptr);
  EXPECT_EQ(GetSystemError(), err::kProcNotFound);
  // Internal functions stay private to the library.
  EXPECT_EQ(FindLibrarySymbol(library, "WaitForGroup"), nullptr);
  UnloadDynamicLibrary(library);
  UnloadDynamicLibrary(nullptr);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(DynamicLibrary, FailuresSetTheSystemErrorAndGiveATextForLogs) {
  const std::string missing =
      PathBesideExecutable((std::string("NoSuchLibrary") + kLibraryExtension).c_str());
  std::string detail;
  SetSystemError(0);
  EXPECT_EQ(LoadDynamicLibrary(missing.c_str(), &detail), nullptr);
  EXPECT_EQ(GetSystemError(), err::kModuleNotFound);
  EXPECT_FALSE(detail.empty());

  // A file that is there but is no library.
  const std::filesystem::path notLibrary =
      std::filesystem::temp_directory_path() /
      ("qolv-not-a-library-" + std::to_string(CurrentProcessId()) + kLibraryExtension);
  std::ofstream(notLibrary) << "just text, no library";
  detail.clear();
  SetSystemError(0);
  EXPECT_EQ(LoadDynamicLibrary(notLibrary.string().c_str(), &detail), nullptr);
  EXPECT_EQ(GetSystemError(), err::kBadExeFormat);
  EXPECT_FALSE(detail.empty());
  std::filesystem::remove(notLibrary);

  EXPECT_EQ(LoadDynamicLibrary(missing.c_str()), nullptr);  // the text is optional
}

}  // namespace
}  // namespace qolv::platform

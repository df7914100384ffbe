#pragma once
// Helpers for running the test service program as a child process. Children are started through
// the command interpreter with std::system; each target's folder implements RunTestService for
// its own interpreter.
#include <filesystem>
#include <string>

namespace qolv::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& file);

// The test service program, built beside this test program.
std::filesystem::path TestServicePath();

struct RunResult {
  int exitCode = -1;
  std::string output;  // standard output
};

// Runs the test service with the arguments, as written for the command interpreter, waits for
// it and returns its exit code and standard output.
RunResult RunTestService(const std::string& arguments);

}  // namespace qolv::test

#pragma once
// Running children through the Linux shell.
#include <filesystem>
#include <string>

#include "support/service/test_service_runner.h"

namespace qolv::test {

// The text in single quotes, safe as one shell word.
std::string ShellQuote(const std::string& text);

// Runs the test service with environment assignments ("NAME=value ...", already quoted) and
// arguments, its standard output caught; it is killed when it runs longer than two minutes.
RunResult RunTestServiceWith(const std::string& environment, const std::filesystem::path& program,
                             const std::string& arguments);

// Runs a shell command and returns its exit code.
int RunShell(const std::string& command);

}  // namespace qolv::test

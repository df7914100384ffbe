#pragma once
#include <string>
#include <vector>

namespace qolv::platform::posix {

// Runs a program (looked up in PATH unless it names a path) with the given arguments, standard
// input and error on /dev/null, and waits for it. Returns its exit code, with its standard output
// in *output when output is not null; -1 with the system error set when it could not be run or
// did not exit normally.
int RunCommand(const std::vector<std::string>& arguments, std::string* output);

}  // namespace qolv::platform::posix

#pragma once
#include <string>
#include <vector>

namespace qolv::platform::posix {

// How the service itself starts a program (systemctl, for install and remove). posix_spawnp is
// all it needs: a PATH lookup, and a start that is safe from a threaded process without the care
// a fork asks for. ChildProcess (process_spawn.h) forks instead, because its traced start runs a
// tracer in the child, and it serves tests and tools, not the service.
//
// Runs a program (looked up in PATH unless it names a path) with the given arguments, standard
// input and error on /dev/null, and waits for it. Returns its exit code, with its standard output
// in *output when output is not null; -1 with the system error set when it could not be run or
// did not exit normally.
int RunCommand(const std::vector<std::string>& arguments, std::string* output);

}  // namespace qolv::platform::posix

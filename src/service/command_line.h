#pragma once
#include <cstdint>

namespace qolv {

enum class CommandLineAction {
  kRunService,  // no argument, or a first argument that is not a switch
  kInstall,     // "-install" or "/install"
  kRemove,      // "-remove" or "/remove"
  kIgnore,      // any other switch: nothing is done or printed
};

// Looks at the first argument only; the switch names are compared exactly, case and all.
CommandLineAction ParseCommandLine(int argc, const char* const* argv);

// Carries out an install or remove switch (which prints its outcome) and ignores any other
// switch; true only when the command line asks for the service itself to run.
bool HandleCommandLine(int argc, const char* const* argv);

// Prints the service path's failure: the dispatcher could not start, with its system error code.
void PrintDispatcherFailure(uint32_t code);

}  // namespace qolv

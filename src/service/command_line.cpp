#include "service/command_line.h"

#include <cstdio>
#include <cstring>

#include "service/service_installer.h"

namespace qolv {

CommandLineAction ParseCommandLine(int argc, const char* const* argv) {
  if (argc < 2 || argv[1] == nullptr) return CommandLineAction::kRunService;
  const char* argument = argv[1];
  if (argument[0] != '-' && argument[0] != '/') return CommandLineAction::kRunService;
  if (std::strcmp(argument + 1, "install") == 0) return CommandLineAction::kInstall;
  if (std::strcmp(argument + 1, "remove") == 0) return CommandLineAction::kRemove;
  return CommandLineAction::kIgnore;
}

bool HandleCommandLine(int argc, const char* const* argv) {
  switch (ParseCommandLine(argc, argv)) {
    case CommandLineAction::kInstall:
      InstallService();
      return false;
    case CommandLineAction::kRemove:
      RemoveService();
      return false;
    case CommandLineAction::kIgnore:
      return false;
    case CommandLineAction::kRunService:
      break;
  }
  return true;
}

void PrintDispatcherFailure(uint32_t code) {
  // The decimal is the code read as a signed 32-bit number, the same on every target.
  std::printf("Service failed to run w/err 0x%08lx or %ld \n", static_cast<unsigned long>(code),
              static_cast<long>(static_cast<int32_t>(code)));
  std::fflush(stdout);
}

}  // namespace qolv

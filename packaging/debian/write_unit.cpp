// qolv-write-unit FOLDER EXECUTABLE: writes into FOLDER the systemd unit that the executable at
// the path EXECUTABLE would write for itself with "-install", through the same code, without
// asking systemd for anything. The Debian package ships that unit.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/service_manager.h"
#include "service/service_identity.h"
#include "service/service_installer.h"

namespace {
const char* g_unitFolder = nullptr;
}  // namespace

// This program's own place for the service manager, in the place of the system's: the folder
// given, and "true" standing in for systemctl, since nothing is running that would have to reload
// the unit.
qolv::platform::ServiceManagerPlace qolv::platform::ServiceManagerLocation() { return {g_unitFolder, "true"}; }

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER EXECUTABLE\n", argv[0]);
    return 2;
  }
  g_unitFolder = argv[1];
  qolv::InstallServiceFor(argv[2]);
  // The installer prints its outcome but always returns; the unit file tells whether it worked.
  const std::filesystem::path unit = std::filesystem::path(argv[1]) / (std::string(qolv::kServiceName) + ".service");
  return std::filesystem::is_regular_file(unit) ? 0 : 1;
}

#include "platform/dynamic_library.h"

#include "platform/process_info.h"

namespace qolv::platform {

std::string PathBesideExecutable(const char* fileName) {
  const std::string executable = ExecutablePath();
  const size_t cut = executable.find_last_of(kPathSeparator);
  std::string path = cut == std::string::npos ? std::string() : executable.substr(0, cut);
  path += kPathSeparator;
  path += fileName;
  return path;
}

}  // namespace qolv::platform

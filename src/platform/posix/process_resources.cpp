#include "platform/process_resources.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/errno_map.h"

namespace qolv::platform {

bool ReadProcessResources(uint32_t processId, ProcessResources& resources) {
  const std::string folder = "/proc/" + std::to_string(processId);
  std::FILE* status = std::fopen((folder + "/status").c_str(), "r");
  if (status == nullptr) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  unsigned long long kilobytes = 0;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmRSS: %llu kB", &kilobytes) == 1) break;
  }
  std::fclose(status);

  DIR* descriptors = ::opendir((folder + "/fd").c_str());
  if (descriptors == nullptr) {
    posix::SetSystemErrorFromErrno();
    return false;
  }
  uint32_t count = 0;
  while (const dirent* entry = ::readdir(descriptors)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(descriptors);
  // Reading our own folder holds one descriptor that the process would not hold otherwise.
  if (processId == static_cast<uint32_t>(::getpid()) && count > 0) --count;

  resources.residentBytes = kilobytes * 1024;
  resources.handles = count;
  return true;
}

}  // namespace qolv::platform

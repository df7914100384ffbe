#pragma once
// What another process holds, as the system counts it, for tools that watch a service over time.
#include <cstdint>

namespace qolv::platform {

struct ProcessResources {
  uint64_t residentBytes = 0;  // Windows: the working set; Linux: VmRSS
  uint32_t handles = 0;        // Windows: open handles of every kind; Linux: open file descriptors
};

// Reads them for the process with the given id (this one included); false with the system
// error set when the process cannot be read (gone, or not ours to look at).
bool ReadProcessResources(uint32_t processId, ProcessResources& resources);

}  // namespace qolv::platform

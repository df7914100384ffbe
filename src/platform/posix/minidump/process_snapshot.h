#pragma once
// What the Linux minidump writer reads about its own process: the memory map, the threads, and
// memory itself. Everything lives in fixed storage and is read with plain system calls, so it
// works inside a signal handler; one snapshot serves one dump.
#include <cstddef>
#include <cstdint>

namespace qolv::platform::posix {

struct MappedRange {
  uint64_t start;
  uint64_t end;
  uint64_t offset;  // offset in the mapped file
  bool readable;
  bool executable;
  const char* path;  // points into the maps text; empty for anonymous memory
  uint32_t pathLength;
};

class ProcessSnapshot {
 public:
  static constexpr size_t kMapsCapacity = size_t{1} << 20;
  static constexpr size_t kMaxRanges = 8192;
  static constexpr size_t kMaxThreads = 4096;

  // Reads /proc/self/maps and the thread ids in /proc/self/task, and opens /proc/self/mem for
  // reading memory. False when the map cannot be read. A map or thread list too long for the
  // fixed storage is cut.
  bool Take();
  // Closes /proc/self/mem.
  void Release();

  const char* mapsText() const { return maps_; }
  size_t mapsLength() const { return mapsLength_; }
  size_t rangeCount() const { return rangeCount_; }
  const MappedRange& range(size_t index) const { return ranges_[index]; }
  // The range holding address, or null.
  const MappedRange* Find(uint64_t address) const;

  size_t threadCount() const { return threadCount_; }
  uint32_t thread(size_t index) const { return threads_[index]; }

  // Copies memory of this process; returns the bytes copied (fewer, down to 0, where memory
  // cannot be read). Unmapped memory fails here instead of faulting.
  size_t ReadMemory(uint64_t address, void* into, size_t length) const;

 private:
  void ParseMaps();
  void ListThreads();

  char maps_[kMapsCapacity];
  size_t mapsLength_ = 0;
  MappedRange ranges_[kMaxRanges];
  size_t rangeCount_ = 0;
  uint32_t threads_[kMaxThreads];
  size_t threadCount_ = 0;
  int memory_ = -1;
};

// The stack pointer and instruction pointer of another thread of this process while it waits in
// the kernel, from /proc/self/task/<id>/syscall. False when the thread is running (its registers
// cannot be read without stopping it) or the file cannot be read.
bool WaitingThreadRegisters(uint32_t threadId, uint64_t& stackPointer, uint64_t& instructionPointer);

}  // namespace qolv::platform::posix

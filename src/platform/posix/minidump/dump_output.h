#pragma once
// Sequential output of a minidump file through a fixed buffer, with the file offset (the "RVA"
// records point at) kept as it goes, and patching of records written earlier. Signal-safe:
// write, pwrite and memory work only.
#include <cstddef>
#include <cstdint>

#include "platform/posix/minidump/process_snapshot.h"

namespace qolv::platform::posix {

class DumpOutput {
 public:
  DumpOutput(int fd, char* buffer, size_t capacity) : fd_(fd), buffer_(buffer), capacity_(capacity) {}

  // The offset the next byte goes to.
  uint32_t position() const { return static_cast<uint32_t>(flushed_ + used_); }

  void Write(const void* data, size_t length);
  void WriteZeros(size_t length);
  void AlignTo(size_t alignment) { WriteZeros((alignment - position() % alignment) % alignment); }
  // Copies memory of this process into the file; what cannot be read becomes zeros, so the
  // layout stays as planned.
  void CopyMemory(const ProcessSnapshot& snapshot, uint64_t address, size_t length);
  // Overwrites bytes written earlier, for records whose content is known only later.
  void WriteAt(uint32_t position, const void* data, size_t length);

  // Writes what is buffered. True when every write succeeded; otherwise error() is the errno.
  bool Finish();
  int error() const { return error_; }

 private:
  char* Reserve(size_t length);
  void Flush();

  int fd_;
  char* buffer_;
  size_t capacity_;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
  int error_ = 0;
};

}  // namespace qolv::platform::posix

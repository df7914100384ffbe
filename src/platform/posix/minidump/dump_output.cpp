#include "platform/posix/minidump/dump_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qolv::platform::posix {
namespace {

constexpr uint64_t kLargestOffset = 0xFFFFFFFFu;

// Writes all of length at offset (or at the current position when offset is negative).
int WriteFully(int fd, const char* data, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = offset < 0 ? ::write(fd, data, length) : ::pwrite(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    length -= static_cast<size_t>(n);
    if (offset >= 0) offset += n;
  }
  return 0;
}

}  // namespace

void DumpOutput::Flush() {
  if (used_ == 0) return;
  if (error_ == 0) error_ = WriteFully(fd_, buffer_, used_, -1);
  flushed_ += used_;
  used_ = 0;
}

// Room for length bytes (at most the buffer's capacity) at the end of the buffer.
char* DumpOutput::Reserve(size_t length) {
  if (used_ + length > capacity_) Flush();
  if (flushed_ + used_ + length > kLargestOffset && error_ == 0) error_ = EFBIG;
  char* room = buffer_ + used_;
  used_ += length;
  return room;
}

void DumpOutput::Write(const void* data, size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const size_t piece = length < capacity_ ? length : capacity_;
    std::memcpy(Reserve(piece), bytes, piece);
    bytes += piece;
    length -= piece;
  }
}

void DumpOutput::WriteZeros(size_t length) {
  while (length > 0) {
    const size_t piece = length < capacity_ ? length : capacity_;
    std::memset(Reserve(piece), 0, piece);
    length -= piece;
  }
}

void DumpOutput::CopyMemory(const ProcessSnapshot& snapshot, uint64_t address, size_t length) {
  while (length > 0) {
    const size_t piece = length < capacity_ ? length : capacity_;
    char* room = Reserve(piece);
    const size_t got = snapshot.ReadMemory(address, room, piece);
    if (got < piece) std::memset(room + got, 0, piece - got);
    address += piece;
    length -= piece;
  }
}

void DumpOutput::WriteAt(uint32_t position, const void* data, size_t length) {
  if (position >= flushed_) {
    std::memcpy(buffer_ + (position - flushed_), data, length);
    return;
  }
  Flush();
  if (error_ == 0)
    error_ = WriteFully(fd_, static_cast<const char*>(data), length, static_cast<off_t>(position));
}

bool DumpOutput::Finish() {
  Flush();
  return error_ == 0;
}

}  // namespace qolv::platform::posix

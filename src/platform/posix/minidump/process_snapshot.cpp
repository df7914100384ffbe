#include "platform/posix/minidump/process_snapshot.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/minidump/signal_safe_io.h"

namespace qolv::platform::posix {
namespace {

// The record getdents64 fills; glibc offers no declaration of it without also offering readdir.
struct DirectoryEntry64 {
  uint64_t inode;
  int64_t offset;
  unsigned short recordLength;
  unsigned char type;
  char name[1];
};

const char* SkipSpaces(const char* p, const char* end) {
  while (p < end && *p == ' ') ++p;
  return p;
}

}  // namespace

bool ProcessSnapshot::Take() {
  const long length = ReadWholeFile("/proc/self/maps", maps_, kMapsCapacity - 1);
  if (length <= 0) return false;
  mapsLength_ = static_cast<size_t>(length);
  maps_[mapsLength_] = 0;
  ParseMaps();
  ListThreads();
  memory_ = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  return true;
}

void ProcessSnapshot::Release() {
  if (memory_ >= 0) ::close(memory_);
  memory_ = -1;
}

// Lines look like "7f12a000-7f12c000 r-xp 00002000 fd:01 2838574    /usr/lib/libc.so.6".
void ProcessSnapshot::ParseMaps() {
  rangeCount_ = 0;
  const char* p = maps_;
  const char* const end = maps_ + mapsLength_;
  while (p < end && rangeCount_ < kMaxRanges) {
    const char* lineEnd = p;
    while (lineEnd < end && *lineEnd != '\n') ++lineEnd;
    // A line cut off by a full buffer has no line feed; it is left out.
    if (lineEnd == end) break;
    MappedRange r{};
    r.start = ParseHex(p, lineEnd);
    if (p < lineEnd && *p == '-') ++p;
    r.end = ParseHex(p, lineEnd);
    p = SkipSpaces(p, lineEnd);
    if (lineEnd - p >= 4) {
      r.readable = p[0] == 'r';
      r.executable = p[2] == 'x';
      p += 4;
    }
    p = SkipSpaces(p, lineEnd);
    r.offset = ParseHex(p, lineEnd);
    p = SkipSpaces(p, lineEnd);
    while (p < lineEnd && *p != ' ') ++p;  // device
    p = SkipSpaces(p, lineEnd);
    while (p < lineEnd && *p != ' ') ++p;  // inode
    p = SkipSpaces(p, lineEnd);
    r.path = p;
    r.pathLength = static_cast<uint32_t>(lineEnd - p);
    if (r.end > r.start) ranges_[rangeCount_++] = r;
    p = lineEnd + 1;
  }
}

void ProcessSnapshot::ListThreads() {
  threadCount_ = 0;
  const int directory = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  alignas(8) char entries[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, directory, entries, sizeof entries);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const DirectoryEntry64*>(entries + at);
      const char* name = entry->name;
      const char* nameEnd = name;
      while (*nameEnd != 0) ++nameEnd;
      const char* digits = name;
      const uint64_t id = ParseDecimal(digits, nameEnd);
      if (digits == nameEnd && nameEnd != name && threadCount_ < kMaxThreads) {
        threads_[threadCount_++] = static_cast<uint32_t>(id);
      }
      at += entry->recordLength;
    }
  }
  ::close(directory);
}

const MappedRange* ProcessSnapshot::Find(uint64_t address) const {
  // The kernel lists ranges in address order.
  size_t low = 0;
  size_t high = rangeCount_;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (ranges_[middle].end <= address) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low < rangeCount_ && ranges_[low].start <= address) return &ranges_[low];
  return nullptr;
}

size_t ProcessSnapshot::ReadMemory(uint64_t address, void* into, size_t length) const {
  if (memory_ < 0 || address > static_cast<uint64_t>(INT64_MAX)) return 0;
  size_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pread(memory_, static_cast<char*>(into) + done, length - done, static_cast<off_t>(address + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// The file reads "<nr> <six arguments> <sp> <pc>" while the thread is in a system call,
// "-1 <sp> <pc>" while it is blocked otherwise, and "running" while it runs.
bool WaitingThreadRegisters(uint32_t threadId, uint64_t& stackPointer, uint64_t& instructionPointer) {
  char path[64];
  FixedText name(path, sizeof path);
  name.Append("/proc/self/task/").AppendDecimal(threadId).Append("/syscall");
  char text[256];
  const long length = ReadWholeFile(path, text, sizeof text);
  if (length <= 0) return false;
  const char* tokens[16];
  int count = 0;
  const char* const end = text + length;
  for (const char* p = text; p < end && count < 16;) {
    while (p < end && (*p == ' ' || *p == '\n')) ++p;
    if (p == end) break;
    tokens[count++] = p;
    while (p < end && *p != ' ' && *p != '\n') ++p;
  }
  if (count < 3 || tokens[0][0] == 'r') return false;
  auto hexValue = [end](const char* token) {
    if (token + 1 < end && token[0] == '0' && token[1] == 'x') token += 2;
    return ParseHex(token, end);
  };
  stackPointer = hexValue(tokens[count - 2]);
  instructionPointer = hexValue(tokens[count - 1]);
  return stackPointer != 0;
}

}  // namespace qolv::platform::posix

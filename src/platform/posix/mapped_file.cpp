#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_codes.h"
#include "platform/posix/errno_map.h"

namespace qolv::platform {

MappedFile::~MappedFile() { Release(); }

void MappedFile::Release() {
  if (view_ != nullptr) ::munmap(const_cast<uint8_t*>(view_), size_);
  if (file_ >= 0) ::close(static_cast<int>(file_));
  view_ = nullptr;
  file_ = -1;
  size_ = 0;
}

uint32_t MappedFile::Open(const char* path) {
  Release();
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return posix::SetSystemErrorFromErrno();
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    const uint32_t error = posix::SetSystemErrorFromErrno();
    ::close(fd);
    return error;
  }
  // Only a regular file has a size that maps; a folder is refused as on Windows.
  if (!S_ISREG(status.st_mode)) {
    ::close(fd);
    return posix::ReportError(err::kAccessDenied);
  }
  file_ = fd;
  size_ = static_cast<uint64_t>(status.st_size);
  return posix::ReportError(err::kSuccess);
}

uint32_t MappedFile::Map() {
  if (file_ < 0) return posix::ReportError(err::kInvalidHandle);
  // An empty file has nothing to map; the system refuses a view of no bytes.
  if (size_ == 0) return posix::ReportError(err::kFileInvalid);
  void* view = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, static_cast<int>(file_), 0);
  if (view == MAP_FAILED) return posix::SetSystemErrorFromErrno();
  view_ = static_cast<const uint8_t*>(view);
  return posix::ReportError(err::kSuccess);
}

}  // namespace qolv::platform

#pragma once
// A whole file mapped read-only into memory, so its bytes can be read without copying them
// into a buffer first. The view, the mapping and the file are released with the object.
#include <cstdint>

namespace qolv::platform {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens the file (UTF-8 path) for reading, other readers allowed, and reads its size.
  // 0 or the error (Windows numbering), also left as the system error.
  uint32_t Open(const char* path);
  // The size of the opened file in bytes.
  uint64_t Size() const { return size_; }
  // Maps the whole opened file read-only; 0 or the error. Data() is then the first byte.
  uint32_t Map();
  const uint8_t* Data() const { return view_; }

 private:
  void Release();

  intptr_t file_ = -1;       // descriptor or handle; -1 while none is open
  void* mapping_ = nullptr;  // the mapping object where the system has one
  const uint8_t* view_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace qolv::platform

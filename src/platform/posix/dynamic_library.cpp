#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform {

LibraryHandle LoadDynamicLibrary(const char* path, std::string* detail) {
  // The library's own symbols stay private to it, so two libraries exporting the same entry
  // points (the real and the fake SDK) never bind to each other.
  void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library != nullptr) return library;
  const char* text = ::dlerror();
  if (detail != nullptr) *detail = text != nullptr ? text : "";
  // dlopen leaves no error number, so the Windows numbers are chosen by whether the file is there.
  struct stat info {};
  const bool present = ::stat(path, &info) == 0;
  SetSystemError(present ? err::kBadExeFormat : err::kModuleNotFound);
  return nullptr;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
  ::dlerror();
  void* symbol = ::dlsym(library, name);
  if (symbol == nullptr) SetSystemError(err::kProcNotFound);
  return symbol;
}

void UnloadDynamicLibrary(LibraryHandle library) {
  if (library != nullptr) ::dlclose(library);
}

}  // namespace qolv::platform

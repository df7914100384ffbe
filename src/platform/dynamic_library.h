#pragma once
// Loading a shared library at run time (LoadLibrary/GetProcAddress/FreeLibrary on Windows,
// dlopen/dlsym/dlclose on Linux).
#include <string>

namespace qolv::platform {

// The device SDK's file name in the executable's folder.
#if defined(_WIN32)
inline constexpr char kSdkLibraryFileName[] = "QolvTovuWindowsSDK.dll";
inline constexpr char kLibraryExtension[] = ".dll";
#else
inline constexpr char kSdkLibraryFileName[] = "QolvTovuWindowsSDK.so";
inline constexpr char kLibraryExtension[] = ".so";
#endif

using LibraryHandle = void*;

// Loads the library at a full path (UTF-8). On failure returns null and sets the system error (126 when
// the file is missing, 193 when it is no loadable library on Linux, the LoadLibrary error on
// Windows); when detail is given it receives the system's own text of the failure, for logs.
LibraryHandle LoadDynamicLibrary(const char* path, std::string* detail = nullptr);

// The address of an exported symbol; null with the system error 127 when it is missing.
void* FindLibrarySymbol(LibraryHandle library, const char* name);

// Drops this process's reference to the library; null is ignored.
void UnloadDynamicLibrary(LibraryHandle library);

// The full path of a file in the executable's folder: the executable path cut at its last
// separator, then the separator and the file name (an empty folder part when there is none).
std::string PathBesideExecutable(const char* fileName);

}  // namespace qolv::platform

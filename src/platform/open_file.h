#pragma once
// Opening a file named by a UTF-8 path as a C stream. Windows' own fopen reads the name in the
// ANSI code page, so a folder such as C:\收银系统 would not be found; there the name goes through
// the wide API.
#include <cstdio>

namespace qolv::platform {

// fopen with a UTF-8 path and the same modes; null with errno set on failure. The file is shared
// for reading and writing with other openers, as fopen's is.
std::FILE* OpenFile(const char* path, const char* mode);

}  // namespace qolv::platform

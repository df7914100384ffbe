#include "platform/open_file.h"

namespace qolv::platform {

// Linux names are bytes; a UTF-8 name needs nothing done.
std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

}  // namespace qolv::platform

#pragma once
#include <string>

namespace qolv::sdk {

// The text with every byte that is not part of a well-formed UTF-8 sequence replaced by '?';
// texts from the system may be in any encoding, but answers must be valid UTF-8. Null reads as empty.
std::string ValidUtf8(const char* text);

}  // namespace qolv::sdk

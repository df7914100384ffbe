#pragma once
#include <rapidjson/document.h>

#include <string>

namespace qolv {

// Copies the first member called name into destination when it is a string, up to the
// string's first zero character. Anything else leaves destination as it was.
void ReadStringMember(const rapidjson::Value& root, const char* name, std::string& destination);

}  // namespace qolv

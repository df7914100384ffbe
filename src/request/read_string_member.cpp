#include "request/read_string_member.h"

namespace qolv {

void ReadStringMember(const rapidjson::Value& root, const char* name, std::string& destination) {
  if (!root.IsObject()) return;
  // FindMember walks the members in order and compares length and bytes, so the first of
  // several equal names wins and the match is case-sensitive.
  const auto member = root.FindMember(name);
  if (member == root.MemberEnd() || !member->value.IsString()) return;
  destination = member->value.GetString();
}

}  // namespace qolv

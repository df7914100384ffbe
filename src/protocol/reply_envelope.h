#pragma once
#include <cstdint>
#include <string>

namespace qolv {

// The body of every error answer; a client reads it like the SDK's own answers.
struct ReplyEnvelope {
  int32_t result = 0;
  std::string errCode;  // the error code as decimal text
  std::string errMsg;
  std::string data;

  static ReplyEnvelope ForError(int32_t code, const char* message);

  // One compact JSON object with the members in field order, "result" as a number.
  std::string ToJson() const;
};

}  // namespace qolv

#include "sdk_answer.h"

#include <cstdlib>
#include <cstring>

namespace qolv::sdk {
namespace {

void WriteHead(JsonWriter& writer, ErrorCode code, const std::string& message) {
  const std::string codeText = std::to_string(static_cast<int>(code));
  writer.StartObject();
  writer.Key("result");
  writer.Int(code == ErrorCode::kOk ? 1 : 0);
  writer.Key("errCode");
  writer.String(codeText.c_str(), static_cast<rapidjson::SizeType>(codeText.size()));
  writer.Key("errMsg");
  writer.String(message.c_str(), static_cast<rapidjson::SizeType>(message.size()));
  writer.Key("data");
}

}  // namespace

std::string SuccessAnswer(const std::function<void(JsonWriter&)>& writeData) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  WriteHead(writer, ErrorCode::kOk, "ok");
  writeData(writer);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string FailureAnswer(ErrorCode code, const std::string& message) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  WriteHead(writer, code, message);
  writer.String("");
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

char* CopyForCaller(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace qolv::sdk

#include "protocol/reply_envelope.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace qolv {
namespace {

rapidjson::Value CopiedString(const std::string& text, rapidjson::Document::AllocatorType& allocator) {
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

}  // namespace

ReplyEnvelope ReplyEnvelope::ForError(int32_t code, const char* message) {
  ReplyEnvelope envelope;
  envelope.errCode = std::to_string(code);
  envelope.errMsg = message;
  return envelope;
}

std::string ReplyEnvelope::ToJson() const {
  rapidjson::Document document;
  document.SetObject();
  auto& allocator = document.GetAllocator();
  document.AddMember("result", result, allocator);
  document.AddMember("errCode", CopiedString(errCode, allocator), allocator);
  document.AddMember("errMsg", CopiedString(errMsg, allocator), allocator);
  document.AddMember("data", CopiedString(data, allocator), allocator);
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace qolv

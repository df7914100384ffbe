#pragma once
// The JSON answers of the SDK: every answer is one object with "result", "errCode", "errMsg"
// and "data", the same shape as the service's own error answers so clients read both alike.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <string>

namespace qolv::sdk {

enum class ErrorCode : int {
  kOk = 0,
  kNotInitialised = 1000,
  kBadParam = 1001,
  kAlreadyProxied = 1002,
  kNotProxied = 1003,
  kTableFull = 1004,
  kPrinterQuery = 1005,
};

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// {"result":1,"errCode":"0","errMsg":"ok","data":...}, the data value written by writeData.
std::string SuccessAnswer(const std::function<void(JsonWriter&)>& writeData);

// {"result":0,"errCode":"<code>","errMsg":"<message>","data":""}.
std::string FailureAnswer(ErrorCode code, const std::string& message);

// A zero-terminated copy the caller hands back through FreeQueryResponse; null when memory ran out.
char* CopyForCaller(const std::string& text);

}  // namespace qolv::sdk

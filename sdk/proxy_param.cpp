#include "proxy_param.h"

#include <cstring>
#include <string>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>

#include "utf8_text.h"

namespace qolv::sdk {
namespace {

// Strict JSON that must also be valid UTF-8, since the values are written back into answers.
// The parse is iterative: a recursive one would overflow the caller's stack on a param that
// nests arrays a few hundred thousand levels deep. The parser reads a stream that ends with the
// text: reading up to the terminator alone, its encoding check takes the bytes a multi-byte
// character announces even past the terminator when the text ends inside one.
std::string ParseObject(const char* param, rapidjson::Document& document) {
  const size_t length = std::strlen(param);
  if (length > kMaxParamBytes) {
    return "param must be at most " + std::to_string(kMaxParamBytes) + " bytes";
  }
  rapidjson::MemoryStream text(param, length);
  document.ParseStream<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text);
  if (document.HasParseError()) {
    return std::string("param is not valid JSON: ") + rapidjson::GetParseError_En(document.GetParseError());
  }
  if (!document.IsObject()) return "param must be a JSON object";
  return {};
}

std::string ReadText(const rapidjson::Value& object, const char* field, size_t maxBytes, std::string& out) {
  const std::string quoted = std::string("field \"") + field + "\"";
  const auto member = object.FindMember(field);
  if (member == object.MemberEnd()) return quoted + " is missing";
  if (!member->value.IsString()) return quoted + " must be a string";
  const std::string text(member->value.GetString(), member->value.GetStringLength());
  if (text.empty()) return quoted + " must not be empty";
  if (text.size() > maxBytes) return quoted + " must be at most " + std::to_string(maxBytes) + " bytes";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return quoted + " must not contain control characters";
  }
  // The parser turns an escaped lone surrogate ("\udc00") into bytes that are not UTF-8.
  if (ValidUtf8(text.c_str()) != text) return quoted + " must be valid UTF-8 text";
  out = text;
  return {};
}

std::string ReadPrinter(const rapidjson::Value& object, ProxiedPrinter& printer) {
  std::string error = ReadText(object, "name", kMaxNameBytes, printer.name);
  if (error.empty()) error = ReadText(object, "target", kMaxTargetBytes, printer.target);
  return error;
}

}  // namespace

std::string ReadPrinterParam(const char* param, ProxiedPrinter& printer) {
  rapidjson::Document document;
  std::string error = ParseObject(param, document);
  return error.empty() ? ReadPrinter(document, printer) : error;
}

std::string ReadNameParam(const char* param, std::string& name) {
  rapidjson::Document document;
  std::string error = ParseObject(param, document);
  return error.empty() ? ReadText(document, "name", kMaxNameBytes, name) : error;
}

std::string ReadPrinterListParam(const char* param, std::vector<ProxiedPrinter>& printers) {
  printers.clear();
  if (*param == '\0') return {};
  rapidjson::Document document;
  if (std::string error = ParseObject(param, document); !error.empty()) return error;
  const auto list = document.FindMember("printers");
  if (list == document.MemberEnd()) return {};
  if (!list->value.IsArray()) return "field \"printers\" must be an array";
  // Checked before reading so that an oversized list costs no copies.
  if (list->value.Size() > ProxyTable::kMaxPrinters) {
    return "field \"printers\" holds more than " + std::to_string(ProxyTable::kMaxPrinters) + " printers";
  }
  for (rapidjson::SizeType i = 0; i < list->value.Size(); ++i) {
    const std::string where = "printers[" + std::to_string(i) + "]: ";
    const rapidjson::Value& entry = list->value[i];
    if (!entry.IsObject()) return where + "entry must be a JSON object";
    ProxiedPrinter printer;
    if (std::string error = ReadPrinter(entry, printer); !error.empty()) return where + error;
    printers.push_back(std::move(printer));
  }
  return {};
}

}  // namespace qolv::sdk

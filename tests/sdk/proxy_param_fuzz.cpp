// Fuzzes the sample SDK's param readers. Byte 0 picks the reader (printer, name or printer list),
// the rest up to its first zero byte is the param text, as the SDK receives it. Whatever a reader
// accepts must be fit to store and to write back into an answer: names and targets non-empty,
// within their limits, free of control characters and well-formed UTF-8 (checked here by a
// decoder of its own), at most a full table of printers; and written back as JSON the values
// must read the same again. A refusal is a printable ASCII message, never an empty one.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "proxy_param.h"

namespace qolv::sdk {
namespace {

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool WellFormedUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char lead = *p++;
    if (lead < 0x80) continue;
    int more = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
      more = 1, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      more = 3, code = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (end - p < more) return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      code = (code << 6) | (*p & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  }
  return true;
}

void CheckText(const std::string& text, size_t limit, const char* what) {
  FUZZ_CHECK(!text.empty() && text.size() <= limit, std::string(what) + " within its length limits");
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F, std::string(what) + " without control characters");
  }
  FUZZ_CHECK(WellFormedUtf8(text), std::string(what) + " is well-formed UTF-8");
}

void CheckRefusal(const std::string& error) {
  for (const char c : error) FUZZ_CHECK(c >= 0x20 && c < 0x7F, "a refusal is printable ASCII: " + error);
}

void CheckPrinter(const ProxiedPrinter& printer) {
  CheckText(printer.name, kMaxNameBytes, "name");
  CheckText(printer.target, kMaxTargetBytes, "target");
}

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteField(Writer& writer, const char* key, const std::string& value) {
  writer.Key(key);
  writer.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
}

void WritePrinter(Writer& writer, const ProxiedPrinter& printer) {
  writer.StartObject();
  WriteField(writer, "name", printer.name);
  WriteField(writer, "target", printer.target);
  writer.EndObject();
}

template <typename Write>
std::string Json(const Write& write) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  write(writer);
  return buffer.GetString();
}

void FuzzPrinter(const char* param) {
  ProxiedPrinter printer;
  const std::string error = ReadPrinterParam(param, printer);
  if (!error.empty()) return CheckRefusal(error);
  CheckPrinter(printer);
  ProxiedPrinter again;
  FUZZ_CHECK(ReadPrinterParam(Json([&](Writer& w) { WritePrinter(w, printer); }).c_str(), again).empty() &&
                 again.name == printer.name && again.target == printer.target,
             "a printer reads the same after writing it back");
}

void FuzzName(const char* param) {
  std::string name;
  const std::string error = ReadNameParam(param, name);
  if (!error.empty()) return CheckRefusal(error);
  CheckText(name, kMaxNameBytes, "name");
  std::string again;
  const std::string written = Json([&](Writer& w) {
    w.StartObject();
    WriteField(w, "name", name);
    w.EndObject();
  });
  FUZZ_CHECK(ReadNameParam(written.c_str(), again).empty() && again == name,
             "a name reads the same after writing it back");
}

void FuzzList(const char* param) {
  std::vector<ProxiedPrinter> printers;
  const std::string error = ReadPrinterListParam(param, printers);
  if (!error.empty()) return CheckRefusal(error);
  FUZZ_CHECK(printers.size() <= ProxyTable::kMaxPrinters, "at most a full table");
  for (const ProxiedPrinter& printer : printers) CheckPrinter(printer);
  const std::string written = Json([&](Writer& w) {
    w.StartObject();
    w.Key("printers");
    w.StartArray();
    for (const ProxiedPrinter& printer : printers) WritePrinter(w, printer);
    w.EndArray();
    w.EndObject();
  });
  std::vector<ProxiedPrinter> again;
  FUZZ_CHECK(ReadPrinterListParam(written.c_str(), again).empty() && again.size() == printers.size(),
             "a list reads the same after writing it back");
  for (size_t i = 0; i < printers.size(); ++i) {
    FUZZ_CHECK(again[i].name == printers[i].name && again[i].target == printers[i].target,
               "printer " + std::to_string(i) + " reads the same after writing it back");
  }
}

}  // namespace
}  // namespace qolv::sdk

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qolv::sdk;
  if (size == 0) return 0;
  const std::string param(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0:
      FuzzPrinter(param.c_str());
      break;
    case 1:
      FuzzName(param.c_str());
      break;
    default:
      FuzzList(param.c_str());
      break;
  }
  return 0;
}

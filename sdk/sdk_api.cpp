#include "sdk_api.h"

#include <cstring>
#include <vector>

#include "local_printers.h"
#include "proxy_param.h"
#include "sdk_answer.h"

namespace qolv::sdk {
namespace {

void WriteText(JsonWriter& writer, const char* key, const std::string& text) {
  writer.Key(key);
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

std::string NotInitialised() {
  return FailureAnswer(ErrorCode::kNotInitialised, "the SDK is not initialised (InitQolvTovuSDK)");
}

std::string TableAnswer(const ProxyTable::Result& result) {
  switch (result.outcome) {
    case ProxyTable::Outcome::kDone:
      return SuccessAnswer([&](JsonWriter& writer) {
        writer.StartObject();
        writer.Key("printers");
        writer.StartArray();
        for (const ProxiedPrinter& printer : result.printers) {
          writer.StartObject();
          WriteText(writer, "name", printer.name);
          WriteText(writer, "target", printer.target);
          writer.EndObject();
        }
        writer.EndArray();
        writer.EndObject();
      });
    case ProxyTable::Outcome::kClosed:
      return NotInitialised();
    case ProxyTable::Outcome::kExists:
      return FailureAnswer(ErrorCode::kAlreadyProxied, "printer \"" + result.name + "\" is already proxied");
    case ProxyTable::Outcome::kMissing:
      return FailureAnswer(ErrorCode::kNotProxied, "printer \"" + result.name + "\" is not proxied");
    case ProxyTable::Outcome::kDuplicate:
      return FailureAnswer(ErrorCode::kBadParam, "printer \"" + result.name + "\" is listed twice");
    case ProxyTable::Outcome::kFull:
      break;
  }
  return FailureAnswer(ErrorCode::kTableFull,
                       "the table holds at most " + std::to_string(ProxyTable::kMaxPrinters) + " printers");
}

std::string GetLocalPrinterList(ProxyTable& table, const char*) {
  if (!table.IsOpen()) return NotInitialised();
  std::vector<LocalPrinter> printers;
  std::string error;
  if (!ReadLocalPrinters(printers, error)) return FailureAnswer(ErrorCode::kPrinterQuery, error);
  return SuccessAnswer([&](JsonWriter& writer) {
    writer.StartObject();
    writer.Key("printers");
    writer.StartArray();
    for (const LocalPrinter& printer : printers) {
      writer.StartObject();
      WriteText(writer, "name", printer.name);
      writer.Key("isDefault");
      writer.Bool(printer.isDefault);
      WriteText(writer, "description", printer.description);
      WriteText(writer, "location", printer.location);
      writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
  });
}

std::string InitPrinterProxy(ProxyTable& table, const char* param) {
  std::vector<ProxiedPrinter> printers;
  if (std::string error = ReadPrinterListParam(param, printers); !error.empty()) {
    return FailureAnswer(ErrorCode::kBadParam, error);
  }
  return TableAnswer(table.Replace(printers));
}

std::string AddPrinterProxy(ProxyTable& table, const char* param) {
  ProxiedPrinter printer;
  if (std::string error = ReadPrinterParam(param, printer); !error.empty()) {
    return FailureAnswer(ErrorCode::kBadParam, error);
  }
  return TableAnswer(table.Add(printer));
}

std::string DeletePrinterProxy(ProxyTable& table, const char* param) {
  std::string name;
  if (std::string error = ReadNameParam(param, name); !error.empty()) {
    return FailureAnswer(ErrorCode::kBadParam, error);
  }
  return TableAnswer(table.Remove(name));
}

struct NamedCall {
  const char* name;
  ApiCall call;
};

constexpr NamedCall kCalls[] = {
    {"getLocalPrinterList", &GetLocalPrinterList},
    {"initPrinterProxy", &InitPrinterProxy},
    {"addPrinterProxy", &AddPrinterProxy},
    {"deletePrinterProxy", &DeletePrinterProxy},
};

}  // namespace

ApiCall FindApiCall(const char* apiName) {
  for (const NamedCall& entry : kCalls) {
    if (std::strcmp(entry.name, apiName) == 0) return entry.call;
  }
  return nullptr;
}

}  // namespace qolv::sdk

#include "local_printers.h"

#include <cups/cups.h>

#include "utf8_text.h"

namespace qolv::sdk {
namespace {

// A print server that is not running must not hold a call up for long.
constexpr int kConnectTimeoutMs = 3000;
constexpr double kReplyTimeoutSeconds = 5.0;

std::string Option(const cups_dest_t& dest, const char* name) {
  return ValidUtf8(cupsGetOption(name, dest.num_options, dest.options));
}

}  // namespace

bool ReadLocalPrinters(std::vector<LocalPrinter>& printers, std::string& error) {
  printers.clear();
  // A connection of our own (rather than the library's shared default) keeps concurrent calls
  // apart and lets the connect and reply waits be bounded.
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              kConnectTimeoutMs, nullptr);
  if (http == nullptr) return true;
  httpSetTimeout(http, kReplyTimeoutSeconds, nullptr, nullptr);
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(http, &dests);
  const ipp_status_t status = cupsLastError();
  for (int i = 0; i < count; ++i) {
    LocalPrinter printer;
    printer.name = ValidUtf8(dests[i].name);
    if (dests[i].instance != nullptr) printer.name += "/" + ValidUtf8(dests[i].instance);
    printer.isDefault = dests[i].is_default != 0;
    printer.description = Option(dests[i], "printer-info");
    printer.location = Option(dests[i], "printer-location");
    printers.push_back(std::move(printer));
  }
  cupsFreeDests(count, dests);
  httpClose(http);
  // A server without printers answers "not found"; only other failures are worth reporting.
  if (count == 0 && status > IPP_STATUS_OK_EVENTS_COMPLETE && status != IPP_STATUS_ERROR_NOT_FOUND) {
    error = "print server error: " + ValidUtf8(cupsLastErrorString());
    return false;
  }
  return true;
}

}  // namespace qolv::sdk

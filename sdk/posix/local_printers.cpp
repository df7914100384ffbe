#include "local_printers.h"

#include <cups/cups.h>

#include <chrono>

#include "utf8_text.h"

namespace qolv::sdk {
namespace {

// A print server that is not running, or does not answer, must not hold a call up for long.
constexpr int kConnectTimeoutMs = 3000;
constexpr auto kReplyLimit = std::chrono::seconds(5);
// How often a waiting request asks whether to go on waiting.
constexpr double kWaitStepSeconds = 0.5;

using Deadline = std::chrono::steady_clock::time_point;

// Reading the list may take several requests; all of them together get kReplyLimit.
int KeepWaiting(http_t*, void* deadline) {
  return std::chrono::steady_clock::now() < *static_cast<const Deadline*>(deadline) ? 1 : 0;
}

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
  Deadline deadline = std::chrono::steady_clock::now() + kReplyLimit;
  httpSetTimeout(http, kWaitStepSeconds, &KeepWaiting, &deadline);
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
  if (count == 0 && std::chrono::steady_clock::now() >= deadline) {
    error = "the print server did not answer in time";
    return false;
  }
  // A server without printers answers "not found"; only other failures are worth reporting.
  if (count == 0 && status > IPP_STATUS_OK_EVENTS_COMPLETE && status != IPP_STATUS_ERROR_NOT_FOUND) {
    error = std::string("print server error: ") + ippErrorString(status);
    return false;
  }
  return true;
}

}  // namespace qolv::sdk

#include "client_options.h"

#include <charconv>
#include <limits>

namespace qolv::client {
namespace {

// The whole text must be a decimal number within [low, high].
bool ReadNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end && value >= low && value <= high;
}

}  // namespace

std::string ParseClientOptions(const std::vector<std::string>& args, ClientOptions& options) {
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return {};
    }
    if (arg == "--heartbeat") {
      options.heartbeat = true;
      continue;
    }
    if (arg == "--host" || arg == "--port" || arg == "--type" || arg == "--timeout") {
      if (i + 1 == args.size()) return arg + " needs a value";
      const std::string& value = args[++i];
      uint64_t number = 0;
      if (arg == "--host") {
        if (value.empty()) return "--host needs an address";
        options.host = value;
      } else if (arg == "--port") {
        if (!ReadNumber(value, 1, 65535, number)) return "--port must be a number from 1 to 65535";
        options.port = static_cast<uint16_t>(number);
      } else if (arg == "--type") {
        // Only the two request types get an answer that carries a body.
        if (value != "0" && value != "2") return "--type must be 0 or 2";
        options.type = static_cast<uint8_t>(value[0] - '0');
      } else {
        if (!ReadNumber(value, 1, std::numeric_limits<uint32_t>::max() - 1, number)) {
          return "--timeout must be a positive number of milliseconds";
        }
        options.timeoutMs = static_cast<uint32_t>(number);
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') return "unknown option " + arg;
    positional.push_back(arg);
  }
  if (options.heartbeat) {
    if (!positional.empty()) return "--heartbeat takes no action";
    return {};
  }
  if (positional.empty()) return "an action is needed, e.g. printer.list";
  if (positional.size() > 2) return "too many arguments: give one action and at most one param";
  options.action = positional[0];
  if (positional.size() == 2) options.param = positional[1];
  return {};
}

std::string ClientUsage() {
  return "usage: qolv-client [--host 127.0.0.1] [--port 9199] [--type 0|2] [--timeout ms] <action> [param]\n"
         "       qolv-client [--host 127.0.0.1] [--port 9199] [--timeout ms] --heartbeat\n"
         "Sends one request (or a heartbeat) to the printer proxy and prints the answer.\n"
         "Actions: printer.list, printer.init, printer.add, printer.delete. The param is passed\n"
         "to the printer SDK as text. The timeout (default 5000 ms) covers the whole exchange.\n";
}

}  // namespace qolv::client

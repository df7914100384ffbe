#include "server_options.h"

#include <charconv>
#include <cstring>

namespace qolv::bench {
namespace {

bool ReadNumber(const char* text, uint32_t low, uint32_t high, uint32_t& value) {
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  return error == std::errc() && stop == end && value >= low && value <= high;
}

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> choices) {
  for (const std::string_view choice : choices) {
    if (text == choice) return true;
  }
  return false;
}

}  // namespace

bool ParseServerOptions(int argc, char** argv, std::initializer_list<std::string_view> hosts,
                        ServerOptions& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    uint32_t value = 0;
    if (name == "--host" && IsOneOf(argv[i + 1], hosts)) {
      options.host = argv[i + 1];
    } else if (name == "--port" && ReadNumber(argv[i + 1], 0, 65535, value)) {
      options.port = static_cast<uint16_t>(value);
    } else if (name == "--threads" && ReadNumber(argv[i + 1], 1, 512, value)) {
      options.threads = value;
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

}  // namespace qolv::bench

#pragma once
// The command line of the benchmark servers: --host, --port and --threads, each with its value.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qolv::bench {

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  uint32_t threads = 0;
};

// Reads the options over the defaults already in options. The host must be one of hosts, the port
// 0 to 65535, the threads 1 to 512; false on anything else.
bool ParseServerOptions(int argc, char** argv, std::initializer_list<std::string_view> hosts,
                        ServerOptions& options);

}  // namespace qolv::bench

#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/frame_header.h"

namespace qolv::client {

// What one run of the client does, read from its command line.
struct ClientOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 9199;
  uint8_t type = TPMT_REQUEST_API;  // 0 or 2 for a request
  uint32_t timeoutMs = 5000;        // for the whole exchange: connect, send and answer
  bool heartbeat = false;
  bool help = false;
  std::string action;
  std::string param;
};

// Reads the arguments that follow the program name. Empty on success, otherwise what is wrong.
std::string ParseClientOptions(const std::vector<std::string>& args, ClientOptions& options);

std::string ClientUsage();

}  // namespace qolv::client

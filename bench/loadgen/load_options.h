#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qolv::bench {

enum class LoadMode {
  kHeartbeat,    // type 1 frames, empty body, answered with type 101
  kRequest,      // type 0 or 2 frames with a JSON body, answered with type 100 or 102
  kConnectOnly,  // one heartbeat on each of many connections, then hold them open
  kFlood,        // one connection writes heartbeats without reading while another one probes
  kBigBody,      // each connection announces the largest body and sends part of it
};

// One run of the load generator, read from its command line.
struct LoadOptions {
  LoadMode mode = LoadMode::kHeartbeat;
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  uint32_t connections = 1;
  uint32_t pipeline = 1;  // frames in flight on each connection
  double durationS = 5;   // of the measured part; 60 when only a frame count is given
  uint64_t frames = 0;    // measured frames to send in all; 0 when only the duration bounds it
  double warmupS = 1;
  double drainS = 5;                  // how long answers are awaited once sending has stopped
  double holdS = 60;                  // connect-only: the longest the connections are kept open
  uint32_t connectTimeoutMs = 30000;  // for opening all connections
  // Source addresses 127.0.0.1 to 127.0.0.N taken in turn: one address has only about 28,000
  // ephemeral ports, too few for the largest idle-connection runs. 1 leaves it to the kernel.
  uint32_t sources = 1;
  uint8_t requestType = 0;
  std::string body = R"({"action":"printer.list","param":""})";
  uint32_t probes = 20;   // flood: heartbeats sent on the second connection during the flood
  uint32_t bodyMiB = 60;  // big-body: bytes of the announced body each connection sends
  bool help = false;
};

// The load generator talks to this machine only.
bool IsLoopbackHost(const std::string& host);

// Reads the arguments that follow the program name. Empty on success, otherwise what is wrong.
std::string ParseLoadOptions(const std::vector<std::string>& args, LoadOptions& options);

std::string LoadUsage();

const char* ModeName(LoadMode mode);

}  // namespace qolv::bench

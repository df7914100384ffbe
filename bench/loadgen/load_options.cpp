#include "load_options.h"

#include <charconv>
#include <cmath>

namespace qolv::bench {
namespace {

constexpr double kLongestSeconds = 3600;
constexpr double kFramesOnlyLimitS = 60;
// A flood of a million heartbeats keeps the service's four workers busy for about five minutes.
constexpr double kFloodLimitS = 1200;

bool ReadUnsigned(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end && value >= low && value <= high;
}

bool ReadSeconds(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end && std::isfinite(value) && value >= 0 &&
         value <= kLongestSeconds;
}

}  // namespace

bool IsLoopbackHost(const std::string& host) { return host == "127.0.0.1" || host == "::1"; }

const char* ModeName(LoadMode mode) {
  switch (mode) {
    case LoadMode::kHeartbeat:
      return "heartbeat";
    case LoadMode::kRequest:
      return "request";
    case LoadMode::kConnectOnly:
      return "connect-only";
    case LoadMode::kFlood:
      return "flood";
    case LoadMode::kBigBody:
      return "big-body";
  }
  return "?";
}

std::string ParseLoadOptions(const std::vector<std::string>& args, LoadOptions& options) {
  bool durationGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return {};
    }
    if (i + 1 == args.size()) return arg + " needs a value";
    const std::string& value = args[++i];
    uint64_t number = 0;
    if (arg == "--mode") {
      if (value == "heartbeat") {
        options.mode = LoadMode::kHeartbeat;
      } else if (value == "request") {
        options.mode = LoadMode::kRequest;
      } else if (value == "connect-only") {
        options.mode = LoadMode::kConnectOnly;
      } else if (value == "flood") {
        options.mode = LoadMode::kFlood;
      } else if (value == "big-body") {
        options.mode = LoadMode::kBigBody;
      } else {
        return "--mode must be heartbeat, request, connect-only, flood or big-body";
      }
    } else if (arg == "--host") {
      if (!IsLoopbackHost(value)) return "refusing host " + value + ": only 127.0.0.1 or ::1 may be loaded";
      options.host = value;
    } else if (arg == "--port") {
      if (!ReadUnsigned(value, 1, 65535, number)) return "--port must be a number from 1 to 65535";
      options.port = static_cast<uint16_t>(number);
    } else if (arg == "--connections" || arg == "-c") {
      if (!ReadUnsigned(value, 1, 100000, number)) return "--connections must be a number from 1 to 100000";
      options.connections = static_cast<uint32_t>(number);
    } else if (arg == "--pipeline" || arg == "-p") {
      if (!ReadUnsigned(value, 1, 4096, number)) return "--pipeline must be a number from 1 to 4096";
      options.pipeline = static_cast<uint32_t>(number);
    } else if (arg == "--sources") {
      if (!ReadUnsigned(value, 1, 64, number)) return "--sources must be a number from 1 to 64";
      options.sources = static_cast<uint32_t>(number);
    } else if (arg == "--frames") {
      if (!ReadUnsigned(value, 1, UINT64_MAX / 2, number)) return "--frames must be a positive number";
      options.frames = number;
    } else if (arg == "--probes") {
      if (!ReadUnsigned(value, 1, 10000, number)) return "--probes must be a number from 1 to 10000";
      options.probes = static_cast<uint32_t>(number);
    } else if (arg == "--body-mib") {
      if (!ReadUnsigned(value, 1, 2047, number)) return "--body-mib must be a number from 1 to 2047";
      options.bodyMiB = static_cast<uint32_t>(number);
    } else if (arg == "--type") {
      if (value != "0" && value != "2") return "--type must be 0 or 2";
      options.requestType = static_cast<uint8_t>(value[0] - '0');
    } else if (arg == "--body") {
      options.body = value;
    } else if (arg == "--connect-timeout") {
      if (!ReadUnsigned(value, 1, 3600000, number)) return "--connect-timeout must be 1 to 3600000 ms";
      options.connectTimeoutMs = static_cast<uint32_t>(number);
    } else if (arg == "--duration" || arg == "--warmup" || arg == "--drain" || arg == "--hold") {
      double seconds = 0;
      if (!ReadSeconds(value, seconds)) return arg + " must be a number of seconds from 0 to 3600";
      if (arg == "--duration") {
        options.durationS = seconds;
        durationGiven = true;
      } else if (arg == "--warmup") {
        options.warmupS = seconds;
      } else if (arg == "--drain") {
        options.drainS = seconds;
      } else {
        options.holdS = seconds;
      }
    } else {
      return "unknown option " + arg;
    }
  }
  if (options.port == 0) return "--port is needed";
  if (options.durationS == 0) return "--duration must be above 0";
  if (options.sources > 1 && options.host != "127.0.0.1") return "--sources needs --host 127.0.0.1";
  // A frame count bounds the run by itself; a server that stops answering must not hold it for
  // ever, so the time stays limited.
  if (options.frames != 0 && !durationGiven) {
    options.durationS = options.mode == LoadMode::kFlood ? kFloodLimitS : kFramesOnlyLimitS;
  }
  return {};
}

std::string LoadUsage() {
  return "usage: qolv-loadgen --port N [--host 127.0.0.1|::1]\n"
         "         [--mode heartbeat|request|connect-only|flood|big-body]\n"
         "         [-c connections] [-p frames-in-flight] [--duration s] [--frames N] [--warmup s]\n"
         "         [--drain s] [--type 0|2] [--body json] [--hold s] [--connect-timeout ms]\n"
         "         [--probes N] [--body-mib N] [--sources N]\n"
         "Prints one summary line of key=value pairs. connect-only opens -c connections, sends one\n"
         "heartbeat on each, prints the line once all are answered and keeps them open until\n"
         "SIGINT/SIGTERM or --hold seconds. --sources N connects from 127.0.0.1 to 127.0.0.N in\n"
         "turn, for more connections than one source address has ports.\n"
         "flood: one connection writes --frames heartbeats (default 1000000) without reading while a\n"
         "second sends --probes heartbeats 100 ms apart and times their answers; then the first reads\n"
         "and every answer is checked to arrive once. --duration bounds the whole run.\n"
         "big-body: -c connections each announce a body of 0x7FFFFFFF bytes and send --body-mib MiB\n"
         "of it, then waits --drain seconds for the server to close any more; the line tells how\n"
         "many it closed and how much they had sent.\n";
}

}  // namespace qolv::bench

#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "load_options.h"
#include "platform/readiness_poller.h"
#include "platform/socket_types.h"

namespace qolv::bench {

// What became of the connections of a big-body run.
struct BigBodySummary {
  uint32_t connections = 0;
  uint32_t bodyMiB = 0;
  uint32_t closed = 0;      // by the server
  uint32_t open = 0;        // still open at the end
  double closedMinMiB = 0;  // body bytes a closed connection had sent
  double closedMaxMiB = 0;
  double openMinMiB = 0;  // body bytes an open connection had sent
  uint64_t errors = 0;    // connections not opened, bytes the server should not have sent
  double seconds = 0;
};

// "mode=big-body c=... body_mib=... closed=... open=... closed_min_mib=... closed_max_mib=...
// open_min_mib=... errors=... seconds=..."
std::string FormatBigBodySummary(const BigBodySummary& summary);

// Every connection sends a request header announcing a body of 0x7FFFFFFF bytes and then the
// given number of MiB of it, all connections at once; a connection the server closes stops.
// Once each has sent its bytes or was closed, the run waits the drain time for more closes.
class BigBodyRun {
 public:
  BigBodyRun(const LoadOptions& options, const volatile int& stop);
  ~BigBodyRun();
  BigBodyRun(const BigBodyRun&) = delete;
  BigBodyRun& operator=(const BigBodyRun&) = delete;

  // Opens the connections; false when not one could be opened.
  bool Open();
  BigBodySummary Run();

 private:
  struct Connection {
    platform::SocketHandle socket = platform::kInvalidSocket;
    uint64_t sent = 0;  // header included
    bool closed = false;
    bool writing = true;
  };

  void Write(uint32_t index);
  void Close(uint32_t index);
  // Reads what the server sends; it sends nothing but its close.
  void Read(uint32_t index);

  const LoadOptions options_;
  const volatile int& stop_;
  const uint64_t total_;  // bytes each connection sends, header included
  platform::ReadinessPoller poller_;
  bool socketsStarted_ = false;
  std::vector<Connection> connections_;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> filler_;
  uint32_t writing_ = 0;
  BigBodySummary summary_;
};

}  // namespace qolv::bench

#pragma once
#include <cstdint>
#include <vector>

#include "inflight_slots.h"
#include "latency_histogram.h"
#include "load_options.h"
#include "platform/readiness_poller.h"
#include "platform/socket_types.h"
#include "protocol/frame_header.h"
#include "run_summary.h"

namespace qolv::bench {

// One run of the load generator on one thread: its connections, a readiness poller over them, and
// the frames in flight on each. Every answer frees its frame's slot and, while sending lasts, sends
// the next frame at once, so each connection keeps the pipeline depth in flight.
class LoadRun {
 public:
  // stop is raised by a signal: sending ends and the run drains what is in flight.
  LoadRun(const LoadOptions& options, const volatile int& stop);
  ~LoadRun();
  LoadRun(const LoadRun&) = delete;
  LoadRun& operator=(const LoadRun&) = delete;

  // Opens the connections; false when not one of them could be opened.
  bool Open();
  // Sends and awaits answers until the duration or the frame count is reached and the frames
  // in flight are answered (or the drain time is over).
  RunSummary Run();
  // Keeps the connections open for at most the given time or until stop is raised.
  void Hold(double seconds);

 private:
  struct Connection {
    platform::SocketHandle socket = platform::kInvalidSocket;
    uint32_t index = 0;
    bool open = false;
    bool dirty = false;          // frames queued since the last flush
    bool watchingWrite = false;  // the socket was full: wait until it takes more
    uint64_t nextSequence = 0;
    uint64_t framesSent = 0;
    std::vector<uint8_t> in;
    size_t inEnd = 0;
    std::vector<uint8_t> out;
    size_t outStart = 0;
    InflightSlots slots;
    explicit Connection(uint32_t pipeline) : slots(pipeline) {}
  };

  void SendNew(Connection& connection, int64_t now);
  void StopSending(int64_t now);
  void OnReadable(Connection& connection, int64_t now);
  void OnAnswer(Connection& connection, const FrameHeader& header, int64_t now);
  void Flush(Connection& connection);
  void WatchWrite(Connection& connection, bool on);
  // Closes a connection after a fault; its frames in flight are counted as missing answers.
  void Drop(Connection& connection);

  const LoadOptions options_;
  const volatile int& stop_;
  const uint8_t frameType_;
  const uint8_t answerType_;
  const uint64_t framesPerConnection_;  // 0: no limit
  std::vector<uint8_t> frame_;          // the frame to send, id and timestamp filled per send
  std::vector<Connection> connections_;
  std::vector<uint32_t> dirty_;
  platform::ReadinessPoller poller_;
  bool socketsStarted_ = false;
  uint32_t openCount_ = 0;

  bool sending_ = true;
  int64_t warmEndNs_ = 0;
  int64_t sendEndNs_ = 0;
  int64_t drainEndNs_ = 0;
  int64_t lastAnswerNs_ = 0;
  uint64_t wallMs_ = 0;
  uint64_t inflight_ = 0;
  uint64_t sent_ = 0;
  uint64_t answered_ = 0;
  uint64_t warmupAnswered_ = 0;
  uint64_t errors_ = 0;
  LatencyHistogram latency_;
};

}  // namespace qolv::bench

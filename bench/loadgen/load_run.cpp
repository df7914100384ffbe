#include "load_run.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "client_exchange.h"
#include "frame_codec.h"
#include "load_id.h"
#include "loopback_connector.h"
#include "now_ns.h"
#include "platform/error_codes.h"
#include "platform/socket_io.h"

namespace qolv::bench {
namespace {

constexpr size_t kReadRoom = 16384;
constexpr int kEventBatch = 1024;
constexpr int kWaitMs = 10;

int64_t SecondsNs(double seconds) { return static_cast<int64_t>(seconds * 1e9); }

// The socket calls take a 32-bit length; a longer buffer is read or written in more than one call.
uint32_t ChunkLength(size_t length) { return static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX)); }

}  // namespace

LoadRun::LoadRun(const LoadOptions& options, const volatile int& stop)
    : options_(options),
      stop_(stop),
      frameType_(options.mode == LoadMode::kRequest ? options.requestType : TPMT_HEART_BEAT),
      answerType_(static_cast<uint8_t>(frameType_ + 100)),
      framesPerConnection_(options.mode == LoadMode::kConnectOnly ? 1 : 0) {
  const uint8_t noId[FrameHeader::kMessageIdSize] = {};
  frame_ = client::BuildFrame(
      frameType_, noId, 0,
      options.mode == LoadMode::kRequest ? std::string_view(options.body) : std::string_view());
}

LoadRun::~LoadRun() {
  poller_.Close();
  for (Connection& connection : connections_) {
    if (connection.open) platform::CloseSocket(connection.socket);
  }
  if (socketsStarted_) platform::StopSocketLibrary();
}

bool LoadRun::Open() {
  // On Linux this also raises the open-file limit, so that many connections fit.
  socketsStarted_ = platform::StartSocketLibrary();
  if (!socketsStarted_ || !poller_.Open()) return false;
  const OpenedConnections opened = OpenConnections(options_.host, options_.port, options_.connections,
                                                   options_.connectTimeoutMs, stop_, options_.sources);
  errors_ += opened.failed;
  const uint32_t pipeline = options_.mode == LoadMode::kConnectOnly ? 1 : options_.pipeline;
  connections_.reserve(opened.sockets.size());
  for (platform::SocketHandle socket : opened.sockets) {
    Connection& connection = connections_.emplace_back(pipeline);
    connection.socket = socket;
    connection.index = static_cast<uint32_t>(connections_.size() - 1);
    connection.open = true;
    connection.in.resize(kReadRoom * 2);
    if (poller_.Watch(socket, connection.index, platform::kWatchReadable) != err::kSuccess) {
      ++errors_;
      platform::CloseSocket(socket);
      connection.open = false;
      continue;
    }
    ++openCount_;
  }
  return openCount_ > 0;
}

RunSummary LoadRun::Run() {
  const int64_t start = NowNs();
  const bool connectOnly = options_.mode == LoadMode::kConnectOnly;
  warmEndNs_ = connectOnly ? start : start + SecondsNs(options_.warmupS);
  sendEndNs_ = options_.durationS > 0 ? warmEndNs_ + SecondsNs(options_.durationS) : INT64_MAX;
  wallMs_ = client::UnixTimeMs();
  for (Connection& connection : connections_) {
    for (uint32_t i = 0; i < options_.pipeline && connection.open; ++i) SendNew(connection, start);
  }
  // Every connection sends its one frame at once; what is left is awaiting the answers.
  if (connectOnly) {
    sending_ = false;
    drainEndNs_ = start + int64_t{options_.connectTimeoutMs} * 1000000;
  }

  platform::ReadinessEvent events[kEventBatch];
  for (;;) {
    for (uint32_t index : dirty_) {
      connections_[index].dirty = false;
      if (connections_[index].open) Flush(connections_[index]);
    }
    dirty_.clear();

    int64_t now = NowNs();
    if (sending_ && (now >= sendEndNs_ || stop_)) StopSending(now);
    if (!sending_ && (inflight_ == 0 || now >= drainEndNs_)) break;
    if (openCount_ == 0) break;

    uint32_t ready = 0;
    poller_.Wait(kWaitMs, events, kEventBatch, &ready);
    now = NowNs();
    wallMs_ = client::UnixTimeMs();
    for (uint32_t i = 0; i < ready; ++i) {
      Connection& connection = connections_[events[i].key];
      if (connection.open && (events[i].readable || events[i].failed)) OnReadable(connection, now);
      if (connection.open && events[i].writable) Flush(connection);
    }
  }

  // Frames still in flight on open connections never got their answer.
  for (const Connection& connection : connections_) {
    if (connection.open) errors_ += connection.slots.Busy();
  }
  RunSummary summary;
  summary.mode = ModeName(options_.mode);
  summary.connections = options_.connections;
  summary.pipeline = connectOnly ? 1 : options_.pipeline;
  summary.sent = sent_;
  summary.answered = answered_;
  summary.errors = errors_;
  summary.seconds = answered_ > 0 ? static_cast<double>(lastAnswerNs_ - warmEndNs_) / 1e9 : 0;
  summary.p50Us = latency_.PercentileUs(0.50);
  summary.p99Us = latency_.PercentileUs(0.99);
  summary.p999Us = latency_.PercentileUs(0.999);
  summary.warmupAnswered = warmupAnswered_;
  return summary;
}

void LoadRun::Hold(double seconds) {
  const int64_t end = NowNs() + SecondsNs(seconds);
  while (!stop_ && NowNs() < end) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void LoadRun::StopSending(int64_t now) {
  if (!sending_) return;
  sending_ = false;
  drainEndNs_ = now + SecondsNs(options_.drainS);
}

void LoadRun::SendNew(Connection& connection, int64_t now) {
  if (framesPerConnection_ != 0 && connection.framesSent >= framesPerConnection_) return;
  const bool measured = now >= warmEndNs_;
  if (measured && options_.frames != 0 && sent_ >= options_.frames) {
    StopSending(now);
    return;
  }
  uint32_t slot = 0;
  const uint64_t sequence = connection.nextSequence++;
  if (!connection.slots.Take(sequence, now, measured, slot)) return;

  const size_t at = connection.out.size();
  connection.out.insert(connection.out.end(), frame_.begin(), frame_.end());
  uint8_t* header = connection.out.data() + at;
  EncodeLoadId(LoadId{connection.index, slot, sequence}, header + 4);
  WriteBigEndian64(header + 36, wallMs_);

  ++inflight_;
  ++connection.framesSent;
  if (measured) ++sent_;
  if (!connection.dirty) {
    connection.dirty = true;
    dirty_.push_back(connection.index);
  }
}

void LoadRun::OnReadable(Connection& connection, int64_t now) {
  if (connection.in.size() - connection.inEnd < kReadRoom) connection.in.resize(connection.in.size() * 2);
  uint32_t count = 0;
  const uint32_t error = platform::ReceiveNow(
      connection.socket, reinterpret_cast<char*>(connection.in.data() + connection.inEnd),
      ChunkLength(connection.in.size() - connection.inEnd), &count);
  if (error == err::kWsaWouldBlock) return;
  if (error != err::kSuccess || count == 0) {  // the server closed or reset the connection
    ++errors_;
    Drop(connection);
    return;
  }
  connection.inEnd += count;

  size_t used = 0;
  for (;;) {
    const client::CutFrame cut =
        client::CutNextFrame(connection.in.data() + used, connection.inEnd - used, client::kMaxAnswerBody);
    if (cut.status == client::CutStatus::kNeedMore) break;
    if (cut.status != client::CutStatus::kFrame) {  // the stream cannot be followed any more
      ++errors_;
      Drop(connection);
      return;
    }
    OnAnswer(connection, cut.header, now);
    used += cut.size;
  }
  std::memmove(connection.in.data(), connection.in.data() + used, connection.inEnd - used);
  connection.inEnd -= used;
}

void LoadRun::OnAnswer(Connection& connection, const FrameHeader& header, int64_t now) {
  LoadId id;
  InflightSlots::Entry entry;
  if (!DecodeLoadId(header.messageId, id) || id.connection != connection.index ||
      !connection.slots.Complete(id.slot, id.sequence, entry)) {
    ++errors_;  // an answer to a frame that is not in flight on this connection
    return;
  }
  --inflight_;
  if (header.type != answerType_) {
    ++errors_;
  } else if (entry.measured) {
    ++answered_;
    latency_.Record(static_cast<uint64_t>(now - entry.sentNs));
    lastAnswerNs_ = now;
  } else {
    ++warmupAnswered_;
  }
  if (sending_) SendNew(connection, now);
}

void LoadRun::Flush(Connection& connection) {
  while (connection.outStart < connection.out.size()) {
    uint32_t count = 0;
    const uint32_t error = platform::SendNow(
        connection.socket, reinterpret_cast<const char*>(connection.out.data() + connection.outStart),
        ChunkLength(connection.out.size() - connection.outStart), &count);
    if (error == err::kSuccess && count > 0) {
      connection.outStart += count;
    } else if (error == err::kWsaWouldBlock) {
      WatchWrite(connection, true);
      return;
    } else {
      ++errors_;
      Drop(connection);
      return;
    }
  }
  connection.out.clear();
  connection.outStart = 0;
  WatchWrite(connection, false);
}

void LoadRun::WatchWrite(Connection& connection, bool on) {
  if (connection.watchingWrite == on) return;
  poller_.Change(connection.socket, connection.index,
                 on ? platform::kWatchReadable | platform::kWatchWritable : platform::kWatchReadable);
  connection.watchingWrite = on;
}

void LoadRun::Drop(Connection& connection) {
  if (!connection.open) return;
  poller_.Forget(connection.socket);
  platform::CloseSocket(connection.socket);
  connection.open = false;
  --openCount_;
  const uint32_t lost = connection.slots.Busy();
  errors_ += lost;
  inflight_ -= lost;
}

}  // namespace qolv::bench

#include "big_body_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "frame_codec.h"
#include "loopback_connector.h"
#include "now_ns.h"
#include "platform/error_codes.h"
#include "platform/socket_io.h"

namespace qolv::bench {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kEventBatch = 256;
constexpr int kWaitMs = 10;
constexpr uint32_t kLargestBody = 0x7FFFFFFFu;
constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace

std::string FormatBigBodySummary(const BigBodySummary& s) {
  char line[512];
  std::snprintf(line, sizeof line,
                "mode=big-body c=%u body_mib=%u closed=%u open=%u closed_min_mib=%.1f closed_max_mib=%.1f"
                " open_min_mib=%.1f errors=%" PRIu64 " seconds=%.3f",
                s.connections, s.bodyMiB, s.closed, s.open, s.closedMinMiB, s.closedMaxMiB, s.openMinMiB,
                s.errors, s.seconds);
  return line;
}

BigBodyRun::BigBodyRun(const LoadOptions& options, const volatile int& stop)
    : options_(options),
      stop_(stop),
      total_(FrameHeader::kSize + uint64_t{options.bodyMiB} * 1024 * 1024),
      filler_(kChunk, ' ') {
  const uint8_t id[FrameHeader::kMessageIdSize] = {'b', 'i', 'g'};
  const FrameHeader header = client::MakeFrameHeader(TPMT_REQUEST_API, id, 0, kLargestBody);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
  header_.assign(bytes, bytes + FrameHeader::kSize);
  summary_.connections = options.connections;
  summary_.bodyMiB = options.bodyMiB;
}

BigBodyRun::~BigBodyRun() {
  poller_.Close();
  for (const Connection& connection : connections_) {
    if (!connection.closed) platform::CloseSocket(connection.socket);
  }
  if (socketsStarted_) platform::StopSocketLibrary();
}

bool BigBodyRun::Open() {
  socketsStarted_ = platform::StartSocketLibrary();
  if (!socketsStarted_ || !poller_.Open()) return false;
  const OpenedConnections opened =
      OpenConnections(options_.host, options_.port, options_.connections, options_.connectTimeoutMs, stop_);
  summary_.errors += opened.failed;
  for (platform::SocketHandle socket : opened.sockets) {
    const auto index = static_cast<uint32_t>(connections_.size());
    if (poller_.Watch(socket, index, platform::kWatchReadable | platform::kWatchWritable) != err::kSuccess) {
      ++summary_.errors;
      platform::CloseSocket(socket);
      continue;
    }
    connections_.push_back({socket});
    ++writing_;
  }
  return writing_ > 0;
}

BigBodySummary BigBodyRun::Run() {
  const int64_t start = NowNs();
  const int64_t sendEnd = start + static_cast<int64_t>(options_.durationS * 1e9);
  int64_t drainEnd = 0;
  platform::ReadinessEvent events[kEventBatch];
  while (!stop_) {
    const int64_t now = NowNs();
    if (drainEnd == 0 && (writing_ == 0 || now >= sendEnd)) {
      drainEnd = now + static_cast<int64_t>(options_.drainS * 1e9);
    }
    if (drainEnd != 0 && now >= drainEnd) break;
    uint32_t ready = 0;
    poller_.Wait(kWaitMs, events, kEventBatch, &ready);
    for (uint32_t i = 0; i < ready; ++i) {
      const uint32_t index = events[i].key;
      if (connections_[index].closed) continue;
      if (events[i].readable || events[i].failed) Read(index);
      if (!connections_[index].closed && events[i].writable && drainEnd == 0) Write(index);
    }
  }
  summary_.seconds = static_cast<double>(NowNs() - start) / 1e9;
  bool firstClosed = true;
  bool firstOpen = true;
  for (const Connection& connection : connections_) {
    const double mib =
        static_cast<double>(connection.sent > FrameHeader::kSize ? connection.sent - FrameHeader::kSize : 0) /
        kMiB;
    if (connection.closed) {
      ++summary_.closed;
      summary_.closedMinMiB = firstClosed ? mib : std::min(summary_.closedMinMiB, mib);
      summary_.closedMaxMiB = firstClosed ? mib : std::max(summary_.closedMaxMiB, mib);
      firstClosed = false;
    } else {
      ++summary_.open;
      summary_.openMinMiB = firstOpen ? mib : std::min(summary_.openMinMiB, mib);
      firstOpen = false;
    }
  }
  return summary_;
}

void BigBodyRun::Write(uint32_t index) {
  Connection& connection = connections_[index];
  while (connection.writing) {
    const bool inHeader = connection.sent < FrameHeader::kSize;
    const uint8_t* data = inHeader ? header_.data() + connection.sent : filler_.data();
    const uint64_t left = std::min<uint64_t>(total_ - connection.sent,
                                             inHeader ? FrameHeader::kSize - connection.sent : kChunk);
    uint32_t sent = 0;
    const uint32_t error = platform::SendNow(connection.socket, reinterpret_cast<const char*>(data),
                                             static_cast<uint32_t>(left), &sent);
    if (error == err::kWsaWouldBlock) return;
    if (error != err::kSuccess) {
      Close(index);  // the server closed or reset it
      return;
    }
    connection.sent += sent;
    if (connection.sent == total_) {
      connection.writing = false;
      --writing_;
      poller_.Change(connection.socket, index, platform::kWatchReadable);
    }
  }
}

void BigBodyRun::Read(uint32_t index) {
  char buffer[4096];
  uint32_t count = 0;
  const uint32_t error = platform::ReceiveNow(connections_[index].socket, buffer, sizeof buffer, &count);
  if (error == err::kWsaWouldBlock) return;
  if (error == err::kSuccess && count > 0) {
    ++summary_.errors;  // nothing is ever answered to an unfinished request
    return;
  }
  Close(index);
}

void BigBodyRun::Close(uint32_t index) {
  Connection& connection = connections_[index];
  if (connection.closed) return;
  poller_.Forget(connection.socket);
  platform::CloseSocket(connection.socket);
  connection.closed = true;
  if (connection.writing) {
    connection.writing = false;
    --writing_;
  }
}

}  // namespace qolv::bench

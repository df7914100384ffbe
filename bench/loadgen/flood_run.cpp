#include "flood_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "frame_codec.h"
#include "loopback_connector.h"
#include "now_ns.h"
#include "platform/error_codes.h"
#include "platform/socket_io.h"

namespace qolv::bench {
namespace {

constexpr size_t kOutChunk = 64 * 1024;
constexpr size_t kReadRoom = 64 * 1024;
constexpr uint32_t kFloodKey = 0;
constexpr uint32_t kProbeKey = 1;
constexpr int kWaitMs = 10;
constexpr uint64_t kDefaultFrames = 1000000;

// Ids are a letter and 31 decimal digits, so every one of a million heartbeats is told apart.
void WriteId(uint8_t* id, char kind, uint64_t number) {
  char text[FrameHeader::kMessageIdSize + 1];
  std::snprintf(text, sizeof text, "%c%031" PRIu64, kind, number);
  std::memcpy(id, text, FrameHeader::kMessageIdSize);
}

bool ReadId(const uint8_t* id, char kind, uint64_t& number) {
  if (id[0] != static_cast<uint8_t>(kind)) return false;
  number = 0;
  for (size_t i = 1; i < FrameHeader::kMessageIdSize; ++i) {
    if (id[i] < '0' || id[i] > '9') return false;
    number = number * 10 + (id[i] - '0');
  }
  return true;
}

void AppendHeartbeat(std::vector<uint8_t>& out, char kind, uint64_t number) {
  uint8_t id[FrameHeader::kMessageIdSize];
  WriteId(id, kind, number);
  const FrameHeader header = client::MakeFrameHeader(TPMT_HEART_BEAT, id, 0, 0);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
  out.insert(out.end(), bytes, bytes + FrameHeader::kSize);
}

double Microseconds(int64_t ns) { return static_cast<double>(ns) / 1000.0; }

}  // namespace

std::string FormatFloodSummary(const FloodSummary& s) {
  char line[512];
  std::snprintf(line, sizeof line,
                "mode=flood frames=%" PRIu64 " written=%" PRIu64
                " write_s=%.3f probes=%u probe_timeouts=%u"
                " probe_p50_us=%.1f probe_max_us=%.1f answered=%" PRIu64 " duplicates=%" PRIu64
                " missing=%" PRIu64 " errors=%" PRIu64 " seconds=%.3f",
                s.frames, s.written, s.writeS, s.probes, s.probeTimeouts, s.probeP50Us, s.probeMaxUs,
                s.answered, s.duplicates, s.missing, s.errors, s.seconds);
  return line;
}

FloodRun::FloodRun(const LoadOptions& options, const volatile int& stop) : options_(options), stop_(stop) {
  summary_.frames = options.frames != 0 ? options.frames : kDefaultFrames;
  answeredIds_.assign(summary_.frames, false);
}

FloodRun::~FloodRun() {
  poller_.Close();
  for (Link* link : {&flooder_, &prober_}) {
    if (link->socket != platform::kInvalidSocket) platform::CloseSocket(link->socket);
  }
  if (socketsStarted_) platform::StopSocketLibrary();
}

bool FloodRun::Open() {
  socketsStarted_ = platform::StartSocketLibrary();
  if (!socketsStarted_ || !poller_.Open()) return false;
  OpenedConnections opened =
      OpenConnections(options_.host, options_.port, 2, options_.connectTimeoutMs, stop_);
  if (opened.sockets.size() != 2) {
    for (platform::SocketHandle socket : opened.sockets) platform::CloseSocket(socket);
    return false;
  }
  flooder_.socket = opened.sockets[0];
  prober_.socket = opened.sockets[1];
  Watch(flooder_, kFloodKey, platform::kWatchWritable);
  Watch(prober_, kProbeKey, platform::kWatchReadable);
  return true;
}

void FloodRun::Watch(Link& link, uint32_t key, uint32_t interest) {
  if (link.watched && link.interest == interest) return;
  if (link.watched) {
    poller_.Change(link.socket, key, interest);
  } else {
    poller_.Watch(link.socket, key, interest);
    link.watched = true;
  }
  link.interest = interest;
}

FloodSummary FloodRun::Run() {
  startNs_ = NowNs();
  nextProbeNs_ = startNs_ + kProbeSpacingNs;
  const int64_t endNs = startNs_ + static_cast<int64_t>(options_.durationS * 1e9);
  platform::ReadinessEvent events[2];
  while (!stop_ && summary_.answered < summary_.frames) {
    const int64_t now = NowNs();
    if (now >= endNs) break;
    if (probing_) SendProbe(now);
    uint32_t ready = 0;
    poller_.Wait(kWaitMs, events, 2, &ready);
    for (uint32_t i = 0; i < ready; ++i) {
      Link& link = events[i].key == kFloodKey ? flooder_ : prober_;
      if (events[i].writable && &link == &flooder_) Write(NowNs());
      if ((events[i].readable || events[i].failed) && !Read(link, NowNs())) {
        ++summary_.errors;  // the server closed a connection it should have kept
        summary_.seconds = static_cast<double>(NowNs() - startNs_) / 1e9;
        return summary_;
      }
    }
    if (!probing_ && !reading_) {
      reading_ = true;
      Watch(flooder_, kFloodKey, flooder_.interest | platform::kWatchReadable);
    }
  }
  summary_.seconds = static_cast<double>(NowNs() - startNs_) / 1e9;
  for (uint64_t i = 0; i < summary_.written; ++i) summary_.missing += answeredIds_[i] ? 0 : 1;
  std::sort(probeNs_.begin(), probeNs_.end());
  if (!probeNs_.empty()) {
    summary_.probeP50Us = Microseconds(probeNs_[(probeNs_.size() - 1) / 2]);
    summary_.probeMaxUs = Microseconds(probeNs_.back());
  }
  return summary_;
}

void FloodRun::Write(int64_t now) {
  for (;;) {
    if (outStart_ == out_.size()) {
      out_.clear();
      outStart_ = 0;
      for (uint64_t n = summary_.written; n < summary_.frames && out_.size() < kOutChunk; ++n) {
        AppendHeartbeat(out_, 'F', n);
      }
      if (out_.empty()) {
        Watch(flooder_, kFloodKey, flooder_.interest & ~platform::kWatchWritable);
        return;
      }
    }
    uint32_t sent = 0;
    const uint32_t error =
        platform::SendNow(flooder_.socket, reinterpret_cast<const char*>(out_.data() + outStart_),
                          static_cast<uint32_t>(out_.size() - outStart_), &sent);
    if (error != err::kSuccess) {
      if (error != err::kWsaWouldBlock) ++summary_.errors;
      return;
    }
    // Whole frames count as written once their last byte is out.
    const size_t before = outStart_ / FrameHeader::kSize;
    outStart_ += sent;
    summary_.written += outStart_ / FrameHeader::kSize - before;
    if (summary_.written == summary_.frames) summary_.writeS = static_cast<double>(now - startNs_) / 1e9;
  }
}

void FloodRun::SendProbe(int64_t now) {
  if (probeSentNs_ != 0) {
    if (now - probeSentNs_ < kProbePatienceNs) return;
    ++summary_.probeTimeouts;  // the service is not answering others at all: probing ends
    probing_ = false;
    return;
  }
  if (summary_.probes >= options_.probes) {
    probing_ = false;
    return;
  }
  if (now < nextProbeNs_) return;
  std::vector<uint8_t> probe;
  AppendHeartbeat(probe, 'P', summary_.probes);
  uint32_t sent = 0;
  // 48 bytes always fit into an idle connection's socket.
  if (platform::SendNow(prober_.socket, reinterpret_cast<const char*>(probe.data()), 48, &sent) !=
          err::kSuccess ||
      sent != 48) {
    ++summary_.errors;
    probing_ = false;
    return;
  }
  probeSentNs_ = now;
}

bool FloodRun::Read(Link& link, int64_t now) {
  const size_t used = link.in.size();
  link.in.resize(used + kReadRoom);
  uint32_t count = 0;
  const uint32_t error =
      platform::ReceiveNow(link.socket, reinterpret_cast<char*>(link.in.data() + used), kReadRoom, &count);
  link.in.resize(used + count);
  if (error == err::kWsaWouldBlock) return true;
  if (error != err::kSuccess || count == 0) return false;
  size_t taken = 0;
  for (;;) {
    const client::CutFrame cut = client::CutNextFrame(link.in.data() + taken, link.in.size() - taken, 0);
    if (cut.status == client::CutStatus::kNeedMore) break;
    if (cut.status != client::CutStatus::kFrame) return false;  // heartbeat answers have no body
    OnAnswer(link, link.in.data() + taken, now);
    taken += cut.size;
  }
  link.in.erase(link.in.begin(), link.in.begin() + static_cast<std::ptrdiff_t>(taken));
  return true;
}

void FloodRun::OnAnswer(const Link& link, const uint8_t* bytes, int64_t now) {
  FrameHeader header;
  std::memcpy(&header, bytes, FrameHeader::kSize);
  uint64_t number = 0;
  const bool isProbe = &link == &prober_;
  if (header.type != TPMT_ACK_HEART_BEAT || !ReadId(header.messageId, isProbe ? 'P' : 'F', number)) {
    ++summary_.errors;
    return;
  }
  if (isProbe) {
    if (probeSentNs_ == 0 || number != summary_.probes) {
      ++summary_.errors;
      return;
    }
    probeNs_.push_back(now - probeSentNs_);
    ++summary_.probes;
    probeSentNs_ = 0;
    nextProbeNs_ = now + kProbeSpacingNs;
    return;
  }
  if (number >= summary_.written) {
    ++summary_.errors;  // an answer to a heartbeat not written
  } else if (answeredIds_[number]) {
    ++summary_.duplicates;
  } else {
    answeredIds_[number] = true;
    ++summary_.answered;
  }
}

}  // namespace qolv::bench

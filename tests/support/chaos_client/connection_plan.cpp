#include "connection_plan.h"

#include <algorithm>

#include "protocol/frame_header.h"
#include "support/request/frames.h"

namespace qolv::chaos {
namespace {

using testing::Frame;
using testing::Header;

// How often each kind is drawn, in the order of Kind. Connections that the service must answer
// in full are the largest share; floods are rare and capped per round.
constexpr uint32_t kWeights[kKindCount] = {30, 5, 2, 5, 8, 5, 10, 3, 15, 10};
constexpr uint32_t kMostFloodsPerRound = 2;
// Unread answers cost the service memory until they are sent, so floods stay modest.
constexpr uint32_t kFewestFloodFrames = 500;
constexpr uint32_t kMostFloodFrames = 3000;
// Printer names the add and delete requests share, so that both outcomes occur.
constexpr uint32_t kPrinterNames = 40;

}  // namespace

const char* KindName(Kind kind) {
  static const char* const kNames[kKindCount] = {
      "well-formed",    "slow reader",     "flood",     "half-close",    "bad magic",
      "top-bit length", "reset mid-frame", "huge body", "connect-close", "silent"};
  return kNames[static_cast<int>(kind)];
}

uint32_t Planner::Uniform(uint32_t low, uint32_t high) {
  return std::uniform_int_distribution<uint32_t>(low, high)(random_);
}

std::string Planner::NewId() { return "chaos-" + std::to_string(++nextId_); }

Kind Planner::DrawKind() {
  uint32_t total = 0;
  for (uint32_t weight : kWeights) total += weight;
  for (;;) {
    uint32_t pick = Uniform(0, total - 1);
    int kind = 0;
    while (pick >= kWeights[kind]) pick -= kWeights[kind++];
    if (static_cast<Kind>(kind) != Kind::kFlood) return static_cast<Kind>(kind);
    if (floodsThisRound_ < kMostFloodsPerRound) {
      ++floodsThisRound_;
      return Kind::kFlood;
    }
  }
}

std::string Planner::RequestBody() {
  const std::string name = "\\\"name\\\":\\\"chaos-" + std::to_string(Uniform(1, kPrinterNames)) + "\\\"";
  switch (Uniform(0, 6)) {
    case 0:
      return R"({"action":"printer.list","param":""})";
    case 1:
      return R"({"action":"printer.add","param":"{)" + name + R"(,\"target\":\"chaos-target\"}"})";
    case 2:
      return R"({"action":"printer.delete","param":"{)" + name + R"(}"})";
    case 3:
      return R"({"action":"printer.init","param":"{\"printers\":[{)" + name + R"(,\"target\":\"t\"}]}"})";
    case 4:
      return R"({"action":"printer.unknown","param":""})";  // answered "unknow cmd"
    case 5:
      return "{\"action\":";  // not JSON: answered "param error"
    default:
      // A large body, so that bodies too are cut over many receives.
      return R"({"action":"printer.list","param":"","padding":")" + std::string(Uniform(1000, 20000), 'p') +
             "\"}";
  }
}

void Planner::AddFrame(Plan& plan, bool mayBeUnanswered) {
  const std::string id = NewId();
  ++plan.frames;
  if (mayBeUnanswered && Chance(15)) {
    // Frames the service only logs: answers a client sent, a heartbeat with a body, a request
    // without one, and a type nobody knows.
    static const uint8_t kTypes[] = {TPMT_RESPONSE_API, TPMT_ACK_RAW_MSG, TPMT_HEART_BEAT, TPMT_REQUEST_API,
                                     7};
    const uint8_t type = kTypes[Uniform(0, 4)];
    const bool withBody = type != TPMT_REQUEST_API && (type != 7 || Chance(50));
    plan.bytes += Frame(type, id, withBody ? "{}" : "");
    plan.unanswered.insert(id);
    return;
  }
  if (Chance(35)) {
    plan.bytes += Frame(TPMT_HEART_BEAT, id);
    plan.answered[id] = TPMT_ACK_HEART_BEAT;
    return;
  }
  const uint8_t type = Chance(50) ? TPMT_REQUEST_API : TPMT_RAW_MSG;
  plan.bytes += Frame(type, id, RequestBody());
  plan.answered[id] = static_cast<uint8_t>(type + 100);
}

void Planner::CutWrites(Plan& plan, bool burst) {
  uint32_t left = static_cast<uint32_t>(plan.bytes.size());
  while (left > 0) {
    uint32_t size = 0;
    if (burst) {
      size = 65536;
    } else {
      switch (Uniform(0, 2)) {
        case 0:
          size = Uniform(1, 8);
          break;
        case 1:
          size = Uniform(9, 120);
          break;
        default:
          size = Uniform(121, 8000);
          break;
      }
    }
    size = std::min(size, left);
    plan.writes.push_back(size);
    left -= size;
  }
}

std::vector<Plan> Planner::Round(uint32_t maxConnections) {
  floodsThisRound_ = 0;
  const uint32_t count = Uniform(std::max(1u, maxConnections / 10), std::max(1u, maxConnections));
  // Some rounds open every connection at once, others spread them over up to a second.
  const uint32_t spreadMs = Chance(25) ? 0 : Uniform(0, 1000);
  std::vector<Plan> plans(count);
  for (Plan& plan : plans) {
    plan.kind = DrawKind();
    plan.startMs = Uniform(0, spreadMs);
    plan.longestPauseMs = Uniform(0, 4);
    switch (plan.kind) {
      case Kind::kWellFormed:
        for (uint32_t i = Uniform(1, 20); i > 0; --i) AddFrame(plan, true);
        CutWrites(plan, false);
        break;
      case Kind::kSlowReader:
        for (uint32_t i = Uniform(1, 8); i > 0; --i) AddFrame(plan, true);
        CutWrites(plan, false);
        break;
      case Kind::kFlood:
        for (uint32_t i = Uniform(kFewestFloodFrames, kMostFloodFrames); i > 0; --i) {
          const std::string id = NewId();
          plan.bytes += Frame(TPMT_HEART_BEAT, id);
          plan.answered[id] = TPMT_ACK_HEART_BEAT;
          ++plan.frames;
        }
        plan.longestPauseMs = 0;
        CutWrites(plan, true);
        break;
      case Kind::kHalfClose:
        for (uint32_t i = Uniform(1, 6); i > 0; --i) AddFrame(plan, false);
        CutWrites(plan, false);
        break;
      case Kind::kBadMagic:
      case Kind::kTopBitLength: {
        for (uint32_t i = Uniform(0, 4); i > 0; --i) AddFrame(plan, false);
        const std::string id = NewId();
        plan.bytes += plan.kind == Kind::kBadMagic
                          ? Frame(TPMT_REQUEST_API, id, "{}").replace(Uniform(0, 1), 1, 1, 'x')
                          : Header(TPMT_REQUEST_API, id, Uniform(0x80000000u, 0xFFFFFFFFu)) + "{}";
        ++plan.frames;
        plan.unanswered.insert(id);
        CutWrites(plan, false);
        break;
      }
      case Kind::kResetMidFrame: {
        for (uint32_t i = Uniform(0, 3); i > 0; --i) AddFrame(plan, false);
        std::string last = Frame(TPMT_REQUEST_API, NewId(), RequestBody());
        plan.bytes += last.substr(0, Uniform(1, static_cast<uint32_t>(last.size()) - 1));
        ++plan.frames;
        CutWrites(plan, false);
        break;
      }
      case Kind::kHugeBody:
        plan.bytes = Header(TPMT_REQUEST_API, NewId(), 0x7FFFFFFFu) + std::string(Uniform(1, 200000), '{');
        plan.frames = 1;
        CutWrites(plan, true);
        break;
      case Kind::kConnectClose:
      case Kind::kSilent:
        break;
    }
  }
  return plans;
}

}  // namespace qolv::chaos

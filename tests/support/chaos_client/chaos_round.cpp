#include "chaos_round.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "platform/error_codes.h"
#include "platform/readiness_poller.h"
#include "platform/socket_io.h"
#include "platform/system_error.h"
#include "protocol/frame_header.h"
#include "support/request/frames.h"

namespace qolv::chaos {
namespace {

using platform::SocketHandle;
using Clock = std::chrono::steady_clock;

// After its last due answer a checked connection reads this much longer, so that an answer sent
// twice is seen before the connection closes.
constexpr int64_t kLingerMs = 20;
constexpr uint32_t kPollMs = 2;
constexpr uint32_t kReadChunk = 65536;

enum class Stage { kPending, kConnecting, kSending, kAwaiting, kHolding, kDone };

struct Connection {
  const Plan* plan = nullptr;
  SocketHandle socket = platform::kInvalidSocket;
  Stage stage = Stage::kPending;
  uint32_t interest = 0;  // what the poller watches it for
  bool sendBlocked = false;
  bool readWhileSending = true;  // a flood starts reading only when its writes stall
  size_t sent = 0;
  size_t write = 0;      // index of the current write
  size_t writeLeft = 0;  // bytes of the current write still to send
  int64_t nextWriteAt = 0;
  int64_t nextReadAt = 0;  // slow readers read on a timer, not when the poller says so
  int64_t lingerUntil = -1;
  int64_t deadline = 0;
  size_t answeredOnce = 0;  // due ids answered at least once
  std::string received;
  std::map<std::string, int> answers;
};

class Round {
 public:
  Round(const std::vector<Plan>& plans, uint16_t port, uint64_t seed)
      : random_(seed), connections_(plans.size()) {
    for (size_t i = 0; i < plans.size(); ++i) connections_[i].plan = &plans[i];
    result_.connections = static_cast<uint32_t>(plans.size());
    platform::TextToAddress("127.0.0.1", platform::kFamilyInet, target_);
    platform::SetAddressPort(target_, port);
  }

  RoundResult Run() {
    if (!poller_.Open()) {
      Fail("the readiness poller cannot be opened: " + std::to_string(platform::GetSystemError()));
      return result_;
    }
    const int64_t roundDeadline = kServicePatienceMs + 10000;
    std::vector<platform::ReadinessEvent> events(256);
    for (;;) {
      const int64_t now = Now();
      bool othersDone = true;
      bool allDone = true;
      for (Connection& c : connections_) {
        if (c.stage != Stage::kDone) allDone = false;
        if (c.stage != Stage::kDone && c.stage != Stage::kHolding) othersDone = false;
      }
      if (allDone) break;
      if (now > roundDeadline) {
        for (Connection& c : connections_) {
          if (c.stage != Stage::kDone && c.stage != Stage::kHolding)
            Fail(c, "still unfinished when the round ran out");
          if (c.stage != Stage::kDone) Close(c, false);
        }
        break;
      }
      for (Connection& c : connections_) Step(c, now, othersDone);
      uint32_t count = 0;
      poller_.Wait(kPollMs, events.data(), static_cast<uint32_t>(events.size()), &count);
      for (uint32_t i = 0; i < count; ++i) OnEvent(connections_[events[i].key], events[i]);
    }
    poller_.Close();
    return result_;
  }

 private:
  int64_t Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
  }
  uint32_t Uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
  }

  void Fail(const std::string& text) { result_.failures.push_back(text); }
  void Fail(const Connection& c, const std::string& text) {
    Fail(std::string(KindName(c.plan->kind)) + " connection " + std::to_string(&c - connections_.data()) +
         ": " + text);
  }

  // Timers: starting, writing after a pause, slow reads, the linger, and the deadlines.
  void Step(Connection& c, int64_t now, bool othersDone) {
    switch (c.stage) {
      case Stage::kPending:
        if (now >= c.plan->startMs) Open(c);
        break;
      case Stage::kConnecting:
        if (now > c.deadline) {
          Fail(c, "connect did not finish in time");
          Close(c, false);
        }
        break;
      case Stage::kSending:
      case Stage::kAwaiting:
        if (c.stage == Stage::kSending && !c.sendBlocked && now >= c.nextWriteAt) Write(c);
        if (c.stage != Stage::kDone && c.plan->kind == Kind::kSlowReader && now >= c.nextReadAt)
          Read(c, true);
        if (c.stage == Stage::kAwaiting && c.lingerUntil >= 0 && now >= c.lingerUntil) Close(c, false);
        if (c.stage == Stage::kAwaiting && now > c.deadline) {
          Fail(c, c.plan->Checked() ? std::to_string(c.plan->answered.size() - c.answeredOnce) + " of " +
                                          std::to_string(c.plan->answered.size()) + " answers missing"
                                    : "the service did not close it");
          Close(c, false);
        }
        break;
      case Stage::kHolding:
        if (othersDone) Close(c, false);
        break;
      case Stage::kDone:
        break;
    }
  }

  void Open(Connection& c) {
    c.socket = platform::CreateStreamSocket(platform::kFamilyInet);
    if (c.socket == platform::kInvalidSocket) {
      Fail(c, "no socket: " + std::to_string(platform::GetSystemError()));
      c.stage = Stage::kDone;
      return;
    }
    result_.peakOpen = std::max(result_.peakOpen, ++open_);
    const uint32_t error = platform::BeginConnect(c.socket, target_);
    if (error == err::kSuccess) return Connected(c);
    if (error != err::kWsaWouldBlock) return Refused(c);
    c.stage = Stage::kConnecting;
    c.deadline = Now() + kServicePatienceMs;
    Watch(c, platform::kWatchWritable);
  }

  // The listen backlog can be full for a moment; the fresh heartbeat after the round tells
  // whether the service still accepts.
  void Refused(Connection& c) {
    ++result_.refused;
    Close(c, false);
  }

  void Connected(Connection& c) {
    platform::SetNoDelay(c.socket, true);
    const Kind kind = c.plan->kind;
    if (kind == Kind::kConnectClose) return Close(c, Uniform(0, 1) == 0);
    if (kind == Kind::kSilent) {
      c.stage = Stage::kHolding;
      return Watch(c, 0);
    }
    c.stage = Stage::kSending;
    c.readWhileSending = kind != Kind::kFlood;
    c.writeLeft = c.plan->writes.empty() ? 0 : c.plan->writes[0];
    c.nextWriteAt = Now();
    Write(c);
  }

  void Write(Connection& c) {
    const Plan& plan = *c.plan;
    while (c.write < plan.writes.size()) {
      if (Now() < c.nextWriteAt) return UpdateWatch(c);
      uint32_t sent = 0;
      const uint32_t error =
          platform::SendNow(c.socket, plan.bytes.data() + c.sent, static_cast<uint32_t>(c.writeLeft), &sent);
      if (error == err::kWsaWouldBlock) {
        c.sendBlocked = true;
        c.readWhileSending = true;  // a client whose writes stall starts reading
        return UpdateWatch(c);
      }
      if (error != err::kSuccess) return PeerClosed(c, error);
      c.sent += sent;
      c.writeLeft -= sent;
      if (c.writeLeft > 0) continue;
      if (++c.write < plan.writes.size()) {
        c.writeLeft = plan.writes[c.write];
        c.nextWriteAt = Now() + Uniform(0, plan.longestPauseMs);
      }
    }
    AllSent(c);
  }

  void AllSent(Connection& c) {
    result_.framesSent += c.plan->frames;
    if (c.plan->Resets()) return Close(c, true);
    c.stage = Stage::kAwaiting;
    c.deadline = Now() + kServicePatienceMs;
    if (c.plan->kind == Kind::kHalfClose) platform::ShutdownSocket(c.socket, 1);
    if (c.plan->Checked() && c.answeredOnce == c.plan->answered.size()) c.lingerUntil = Now() + kLingerMs;
    UpdateWatch(c);
  }

  void OnEvent(Connection& c, const platform::ReadinessEvent& event) {
    if (c.stage == Stage::kDone) return;  // closed by an earlier event of the same wait
    if (c.stage == Stage::kConnecting) {
      if (!event.writable && !event.failed) return;
      const uint32_t outcome = platform::ConnectOutcome(c.socket);
      return outcome == err::kSuccess ? Connected(c) : Refused(c);
    }
    if ((event.readable || event.failed) && c.plan->kind != Kind::kSlowReader) Read(c, false);
    if (c.stage == Stage::kSending && event.writable) {
      c.sendBlocked = false;
      Write(c);
    }
  }

  // Eager readers take everything waiting; slow readers a few bytes, then pause.
  void Read(Connection& c, bool slowly) {
    char buffer[kReadChunk];
    for (;;) {
      const uint32_t want = slowly ? Uniform(1, 64) : kReadChunk;
      uint32_t received = 0;
      const uint32_t error = platform::ReceiveNow(c.socket, buffer, want, &received);
      if (error == err::kWsaWouldBlock) break;
      if (error != err::kSuccess || received == 0) {
        TakeAnswers(c);  // what came before the close still counts
        if (c.stage != Stage::kDone) PeerClosed(c, error);
        return;
      }
      c.received.append(buffer, received);
      if (slowly) break;
    }
    if (slowly) c.nextReadAt = Now() + Uniform(1, 15);
    TakeAnswers(c);
  }

  void TakeAnswers(Connection& c) {
    const Plan& plan = *c.plan;
    testing::Answer answer;
    while (c.received.size() >= FrameHeader::kSize) {
      if (!FrameHeader::FromBytes(c.received.data()).HasMagic()) {
        Fail(c, "an answer without the magic");
        return Close(c, false);
      }
      if (!testing::TakeAnswer(c.received, answer)) break;
      ++result_.answers;
      const std::string id = answer.Id();
      const auto due = plan.answered.find(id);
      if (due == plan.answered.end()) {
        Fail(c, plan.unanswered.count(id) != 0 ? "an answer to " + id + ", which must not be answered"
                                               : "an answer under the unknown id " + id);
        continue;
      }
      if (answer.Type() != due->second) {
        Fail(c, "answer type " + std::to_string(answer.Type()) + " for " + id);
      }
      if (answer.Type() == TPMT_ACK_HEART_BEAT && !answer.body.empty())
        Fail(c, "a heartbeat answer with a body");
      const int times = ++c.answers[id];
      if (times == 1) ++c.answeredOnce;
      if (times == 2) Fail(c, id + " answered twice");
    }
    if (plan.Checked() && c.stage == Stage::kAwaiting && c.lingerUntil < 0 &&
        c.answeredOnce == plan.answered.size()) {
      c.lingerUntil = Now() + kLingerMs;
    }
  }

  // The service closed or reset the connection.
  void PeerClosed(Connection& c, uint32_t error) {
    if (c.plan->ServiceCloses()) {
      ++result_.closedByService;
    } else if (c.plan->Checked()) {
      Fail(c, "closed by the service (" + std::to_string(error) + ") with " +
                  std::to_string(c.plan->answered.size() - c.answeredOnce) + " answers missing");
    } else {
      Fail(c, "closed by the service (" + std::to_string(error) + ")");
    }
    Close(c, false);
  }

  void Close(Connection& c, bool abortive) {
    if (c.stage == Stage::kDone) return;
    Watch(c, 0);
    if (abortive) platform::SetLingerAbort(c.socket);
    platform::CloseSocket(c.socket);
    c.socket = platform::kInvalidSocket;
    c.stage = Stage::kDone;
    --open_;
  }

  void UpdateWatch(Connection& c) {
    uint32_t interest = 0;
    const bool reading =
        c.plan->kind != Kind::kSlowReader && (c.stage == Stage::kAwaiting || c.readWhileSending);
    if ((c.stage == Stage::kSending || c.stage == Stage::kAwaiting) && reading)
      interest |= platform::kWatchReadable;
    if (c.stage == Stage::kSending && c.sendBlocked) interest |= platform::kWatchWritable;
    Watch(c, interest);
  }

  void Watch(Connection& c, uint32_t interest) {
    if (interest == c.interest) return;
    const auto key = static_cast<uint32_t>(&c - connections_.data());
    if (interest == 0) {
      poller_.Forget(c.socket);
    } else if (c.interest == 0) {
      poller_.Watch(c.socket, key, interest);
    } else {
      poller_.Change(c.socket, key, interest);
    }
    c.interest = interest;
  }

  const Clock::time_point start_ = Clock::now();
  std::mt19937_64 random_;
  platform::SockAddr target_{};
  platform::ReadinessPoller poller_;
  std::vector<Connection> connections_;
  uint32_t open_ = 0;
  RoundResult result_;
};

}  // namespace

RoundResult RunRound(const std::vector<Plan>& plans, uint16_t port, uint64_t seed) {
  return Round(plans, port, seed).Run();
}

}  // namespace qolv::chaos

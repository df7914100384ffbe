#pragma once
// What each connection of a chaos round does, drawn from the run's seed before the round starts:
// the bytes it sends and how it cuts them, how it reads, how it ends, and which message ids the
// service must answer (exactly once) or must not answer at all.
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace qolv::chaos {

enum class Kind : uint8_t {
  kWellFormed,     // requests of both types and heartbeats, cut at random points, reads everything
  kSlowReader,     // the same, but reads a few bytes at a time with pauses in between
  kFlood,          // a burst of heartbeats written without reading, then every answer read
  kHalfClose,      // requests, then the sending side shut down; reads what still comes
  kBadMagic,       // good frames, then a header without "QV": the service must close it
  kTopBitLength,   // good frames, then a header announcing 2 GiB or more: the service must close it
  kResetMidFrame,  // part of a frame, then an abortive close
  kHugeBody,       // a header announcing 0x7FFFFFFF bytes and some of them, then an abortive close
  kConnectClose,   // connects and closes at once
  kSilent,         // connects and never sends; closed when the rest of the round is done
};
inline constexpr int kKindCount = 10;
const char* KindName(Kind kind);

struct Plan {
  Kind kind = Kind::kWellFormed;
  uint32_t startMs = 0;                     // after the round's start
  std::string bytes;                        // everything it sends
  std::vector<uint32_t> writes;             // the sizes of its writes, in order; they add up to bytes
  uint32_t longestPauseMs = 0;              // each write is followed by a pause of up to this
  uint32_t frames = 0;                      // frames in bytes, complete or not
  std::map<std::string, uint8_t> answered;  // id -> the answer's type
  std::set<std::string> unanswered;         // ids the service logs and does not answer

  // Every answered id must come exactly once before the connection closes.
  bool Checked() const {
    return kind == Kind::kWellFormed || kind == Kind::kSlowReader || kind == Kind::kFlood;
  }
  // The service must close the connection after its bytes.
  bool ServiceCloses() const {
    return kind == Kind::kBadMagic || kind == Kind::kTopBitLength || kind == Kind::kHalfClose;
  }
  // Ends with an abortive close right after its bytes.
  bool Resets() const { return kind == Kind::kResetMidFrame || kind == Kind::kHugeBody; }
};

class Planner {
 public:
  explicit Planner(uint64_t seed) : random_(seed) {}
  // A round of up to maxConnections connections, at least a tenth of them, of every kind.
  std::vector<Plan> Round(uint32_t maxConnections);

 private:
  uint32_t Uniform(uint32_t low, uint32_t high);
  bool Chance(uint32_t percent) { return Uniform(1, 100) <= percent; }
  std::string NewId();
  Kind DrawKind();
  // Appends a frame the service answers, or (sometimes, when allowed) one it only logs.
  void AddFrame(Plan& plan, bool mayBeUnanswered);
  std::string RequestBody();
  // Cuts the bytes into writes: some tiny, some around a frame, some large.
  void CutWrites(Plan& plan, bool burst);

  std::mt19937_64 random_;
  uint64_t nextId_ = 0;
  uint32_t floodsThisRound_ = 0;
};

}  // namespace qolv::chaos

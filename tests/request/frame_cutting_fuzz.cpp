// Fuzzes TcpService's frame cutting: arbitrary bytes, split at arbitrary points over two
// connections, reach OnReceive through the stand-in pull server. After every receive event the
// frames delivered so far, the bytes left in the engine's buffer, and whether the event failed
// (so that the engine closes the connection) must be what the client's frame cutter, applied to
// all bytes the connection has received, says they are.
//
// Input: byte 0 gives the number n (0..32) of split bytes that follow; the rest is the stream.
// Each split byte sends the next (split & 0x7F) stream bytes to connection (split >> 7); a split
// of 0 raises the event again with nothing new. The splits repeat until the stream is used up.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "frame_codec.h"
#include "fuzz_support.h"
#include "request/fake_pull_server.h"
#include "request/tcp_service.h"

namespace qolv {
namespace {

constexpr int kConnections = 2;
constexpr size_t kMaxSplits = 32;

struct Delivered {
  std::string header;
  std::string body;
};

// Keeps what TcpService delivers, per connection id.
class Collector : public TcpService::Delegate {
 public:
  void OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header, const uint8_t* body,
                 int32_t bodyLength) override {
    FUZZ_CHECK(localPort == port, "frames carry the service's port");
    FUZZ_CHECK((body == nullptr) == (bodyLength == 0), "a body is null exactly when it is empty");
    FUZZ_CHECK(bodyLength >= 0, "no negative body length");
    frames[connectionId].push_back({std::string(reinterpret_cast<const char*>(header), FrameHeader::kSize),
                                    body == nullptr ? std::string()
                                                    : std::string(reinterpret_cast<const char*>(body),
                                                                  static_cast<size_t>(bodyLength))});
  }
  void OnConnectionClosed(uint16_t, uint32_t) override {}

  uint16_t port = 0;
  std::map<uint32_t, std::vector<Delivered>> frames;
};

// What the client's cutter finds in everything a connection received so far. It goes on from
// the end of the last whole frame, so that an input cut into single bytes stays cheap.
struct Expected {
  std::vector<Delivered> frames;
  size_t at = 0;     // where the first frame that is not whole yet starts
  bool bad = false;  // a header with bad magic or a top-bit length is complete
  size_t held = 0;   // bytes still in the engine's buffer (an incomplete body's header is taken)
};

void CutLikeTheClient(const std::string& received, Expected& expected) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(received.data());
  for (;;) {
    const size_t at = expected.at;
    const client::CutFrame cut = client::CutNextFrame(bytes + at, received.size() - at);
    if (cut.status == client::CutStatus::kFrame) {
      expected.frames.push_back({received.substr(at, FrameHeader::kSize),
                                 received.substr(at + FrameHeader::kSize, cut.bodyLength)});
      expected.at += cut.size;
      continue;
    }
    expected.bad = cut.status != client::CutStatus::kNeedMore;
    const size_t rest = received.size() - at;
    expected.held = rest >= FrameHeader::kSize ? rest - FrameHeader::kSize : rest;
    return;
  }
}

std::string Describe(const Expected& expected, const std::vector<Delivered>& delivered, size_t held,
                     const std::string& received) {
  return "received " + std::to_string(received.size()) + " bytes; expected " +
         std::to_string(expected.frames.size()) + " frames, bad=" + std::to_string(expected.bad) +
         ", held=" + std::to_string(expected.held) + "; got " + std::to_string(delivered.size()) +
         " frames, held=" + std::to_string(held);
}

struct Fixture {
  Fixture() {
    fuzz::KeepLogInMemory();
    // The delegate is kept by Start; the engine listens on a port of the system's choice, and
    // the events under test are raised by hand on the stand-in server below.
    service.Start(&collector, 0);
    collector.port = service.Port();
    fuzz::TakeLogMessages();
  }
  Collector collector;
  TcpService service;
};

}  // namespace
}  // namespace qolv

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qolv;
  static Fixture* fixture = new Fixture();
  if (size == 0) return 0;
  const size_t splitCount = std::min<size_t>(data[0] % (kMaxSplits + 1), size - 1);
  const uint8_t* splits = data + 1;
  const std::string stream(reinterpret_cast<const char*>(data + 1 + splitCount), size - 1 - splitCount);

  testing::FakePullServer server;
  Collector& collector = fixture->collector;
  collector.frames.clear();
  std::string received[kConnections];
  Expected expectations[kConnections];
  bool closed[kConnections] = {};
  // Accepted as the engine would, so each connection gets its state and its place in the ledger.
  for (uint32_t id = 1; id <= kConnections; ++id) {
    server.waiting[id];
    FUZZ_CHECK(fixture->service.OnAccept(&server, id, 0) == net::EventResult::Ok, "accept");
  }
  fuzz::TakeLogMessages();

  size_t at = 0;
  size_t next = 0;
  size_t emptyInARow = 0;
  while (at < stream.size()) {
    size_t take = stream.size() - at;
    int connection = 0;
    if (splitCount > 0) {
      const uint8_t split = splits[next++ % splitCount];
      connection = split >> 7;
      take = std::min<size_t>(split & 0x7F, take);
      emptyInARow = take == 0 ? emptyInARow + 1 : 0;
      // Splits that are all empty would never end: the rest then arrives at once.
      if (emptyInARow > splitCount) take = stream.size() - at;
    }
    const uint32_t id = static_cast<uint32_t>(connection + 1);
    const std::string chunk = stream.substr(at, take);
    at += take;
    // The engine neither reads nor reports a connection it closed.
    if (closed[connection]) continue;
    received[connection] += chunk;
    server.waiting[id] += chunk;
    const net::EventResult result =
        fixture->service.OnReceive(&server, id, static_cast<int32_t>(server.waiting[id].size()));

    Expected& expected = expectations[connection];
    const size_t alreadyChecked = expected.frames.size();
    CutLikeTheClient(received[connection], expected);
    const std::vector<Delivered>& delivered = collector.frames[id];
    const auto detail = [&] {
      return Describe(expected, delivered, server.waiting[id].size(), received[connection]);
    };
    FUZZ_CHECK((result == net::EventResult::Error) == expected.bad, detail());
    FUZZ_CHECK(result != net::EventResult::Ignore, detail());
    FUZZ_CHECK(delivered.size() == expected.frames.size(), detail());
    for (size_t i = alreadyChecked; i < delivered.size(); ++i) {
      FUZZ_CHECK(delivered[i].header == expected.frames[i].header,
                 detail() + ", header of frame " + std::to_string(i));
      FUZZ_CHECK(delivered[i].body == expected.frames[i].body,
                 detail() + ", body of frame " + std::to_string(i));
    }
    if (expected.bad) {
      closed[connection] = true;
    } else {
      FUZZ_CHECK(server.waiting[id].size() == expected.held, detail());
    }
  }
  FUZZ_CHECK(fuzz::TakeLogMessages().empty(), "cutting frames writes no log line");
  for (uint32_t id = 1; id <= kConnections; ++id) fixture->service.OnClose(&server, id, net::SocketOp::Close, 0);
  fuzz::TakeLogMessages();
  return 0;
}

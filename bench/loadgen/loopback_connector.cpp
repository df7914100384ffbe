#include "loopback_connector.h"

#include <chrono>

#include "load_options.h"
#include "platform/error_codes.h"
#include "platform/readiness_poller.h"
#include "platform/socket_io.h"

namespace qolv::bench {
namespace {

using Clock = std::chrono::steady_clock;
using platform::SocketHandle;
constexpr uint32_t kMostUnderWay = 256;
constexpr uint32_t kWaitMs = 100;

bool MakeTarget(const std::string& host, uint16_t port, platform::SockAddr& target) {
  if (!IsLoopbackHost(host)) return false;
  const uint16_t family =
      host.find(':') != std::string::npos ? platform::kFamilyInet6 : platform::kFamilyInet;
  if (platform::TextToAddress(host.c_str(), family, target) != err::kSuccess) return false;
  platform::SetAddressPort(target, port);
  return true;
}

// Binds the socket to 127.0.0.(1 + turn % sources), port chosen by the kernel; true when it may
// connect (nothing to bind with one source).
bool BindSource(SocketHandle socket, uint32_t sources, uint32_t turn) {
  if (sources <= 1) return true;
  platform::SockAddr source{};
  const std::string text = "127.0.0." + std::to_string(1 + turn % sources);
  return platform::TextToAddress(text.c_str(), platform::kFamilyInet, source) == err::kSuccess &&
         platform::BindSocket(socket, source) == err::kSuccess;
}

void Connected(SocketHandle socket, OpenedConnections& opened) {
  platform::SetNoDelay(socket, true);
  opened.sockets.push_back(socket);
}

}  // namespace

OpenedConnections OpenConnections(const std::string& host, uint16_t port, uint32_t count, uint32_t timeoutMs,
                                  const volatile int& stop, uint32_t sources) {
  OpenedConnections opened;
  platform::SockAddr target{};
  platform::ReadinessPoller poller;
  if (!MakeTarget(host, port, target) || (sources > 1 && host != "127.0.0.1") || !poller.Open()) {
    opened.failed = count;
    return opened;
  }
  const uint16_t family = platform::AddressFamily(target);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // A connect under way is watched under the number of its place here.
  std::vector<SocketHandle> underWay(kMostUnderWay, platform::kInvalidSocket);
  std::vector<uint32_t> freePlaces;
  for (uint32_t place = kMostUnderWay; place > 0; --place) freePlaces.push_back(place - 1);
  uint32_t started = 0;
  platform::ReadinessEvent events[kMostUnderWay];
  while ((started < count || freePlaces.size() < kMostUnderWay) && Clock::now() < deadline && !stop) {
    while (started < count && !freePlaces.empty()) {
      ++started;
      const SocketHandle socket = platform::CreateStreamSocket(family);
      if (socket == platform::kInvalidSocket) continue;
      if (!BindSource(socket, sources, started)) {
        platform::CloseSocket(socket);
        continue;
      }
      const uint32_t result = platform::BeginConnect(socket, target);
      if (result == err::kSuccess) {
        Connected(socket, opened);
        continue;
      }
      const uint32_t place = freePlaces.back();
      if (result != err::kWsaWouldBlock || poller.Watch(socket, place, platform::kWatchWritable) != 0) {
        platform::CloseSocket(socket);
        continue;
      }
      freePlaces.pop_back();
      underWay[place] = socket;
    }
    uint32_t ready = 0;
    poller.Wait(kWaitMs, events, kMostUnderWay, &ready);
    for (uint32_t i = 0; i < ready; ++i) {
      const uint32_t place = events[i].key;
      const SocketHandle socket = underWay[place];
      poller.Forget(socket);
      underWay[place] = platform::kInvalidSocket;
      freePlaces.push_back(place);
      if (platform::ConnectOutcome(socket) == err::kSuccess) {
        Connected(socket, opened);
      } else {
        platform::CloseSocket(socket);
      }
    }
  }
  // Whatever is still under way, or was never started, has failed.
  for (SocketHandle socket : underWay) {
    if (socket == platform::kInvalidSocket) continue;
    poller.Forget(socket);
    platform::CloseSocket(socket);
  }
  opened.failed = count - opened.sockets.size();
  return opened;
}

}  // namespace qolv::bench

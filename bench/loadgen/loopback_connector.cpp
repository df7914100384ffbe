#include "loopback_connector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "load_options.h"

namespace qolv::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMostUnderWay = 256;

struct Target {
  sockaddr_storage address{};
  socklen_t length = 0;
  int family = AF_INET;
};

bool MakeTarget(const std::string& host, uint16_t port, Target& target) {
  if (!IsLoopbackHost(host)) return false;
  if (host.find(':') != std::string::npos) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&target.address);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    target.family = AF_INET6;
    target.length = sizeof(sockaddr_in6);
    return inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1;
  }
  auto* v4 = reinterpret_cast<sockaddr_in*>(&target.address);
  v4->sin_family = AF_INET;
  v4->sin_port = htons(port);
  target.length = sizeof(sockaddr_in);
  return inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1;
}

void Connected(int fd, OpenedConnections& opened) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  opened.sockets.push_back(fd);
}

}  // namespace

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

OpenedConnections OpenConnections(const std::string& host, uint16_t port, uint32_t count, uint32_t timeoutMs,
                                  const volatile int& stop) {
  OpenedConnections opened;
  Target target;
  if (!MakeTarget(host, port, target)) {
    opened.failed = count;
    return opened;
  }
  const int poller = epoll_create1(EPOLL_CLOEXEC);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  uint32_t started = 0;
  std::vector<int> underWay;
  epoll_event events[256];
  while ((started < count || !underWay.empty()) && Clock::now() < deadline && !stop) {
    while (started < count && underWay.size() < kMostUnderWay) {
      ++started;
      const int fd = socket(target.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) {
        ++opened.failed;
        continue;
      }
      if (connect(fd, reinterpret_cast<const sockaddr*>(&target.address), target.length) == 0) {
        Connected(fd, opened);
        continue;
      }
      epoll_event watch{};
      watch.events = EPOLLOUT;
      watch.data.fd = fd;
      if (errno != EINPROGRESS || epoll_ctl(poller, EPOLL_CTL_ADD, fd, &watch) != 0) {
        close(fd);
        ++opened.failed;
        continue;
      }
      underWay.push_back(fd);
    }
    const int ready = epoll_wait(poller, events, 256, 100);
    for (int i = 0; i < ready; ++i) {
      const int fd = events[i].data.fd;
      epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
      underWay.erase(std::find(underWay.begin(), underWay.end(), fd));
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
        Connected(fd, opened);
      } else {
        close(fd);
        ++opened.failed;
      }
    }
  }
  // Whatever is still under way, or was never started, has failed.
  for (int fd : underWay) close(fd);
  opened.failed = count - opened.sockets.size();
  close(poller);
  return opened;
}

}  // namespace qolv::bench

// epoll_frame_server: the bare reference of the engine benchmark. Edge-triggered epoll and plain
// non-blocking reads and writes, with nothing between the sockets and the frame cutting but a
// list of connections that used up their turn: the least a server on this kernel can do per frame.
// One event loop per thread (--threads, default 1); every loop watches the one listen socket and
// keeps the connections it accepted. Listens on 127.0.0.1 or ::1; ends on SIGTERM or Ctrl-C.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "heartbeat_replies.h"
#include "platform/socket_io.h"
#include "server_options.h"

namespace {

using qolv::bench::HeartbeatReplies;

constexpr int kEventsPerWait = 256;
// Reads one connection gets in a row before the other connections of its loop have their turn.
constexpr int kReadsPerTurn = 16;

struct Connection {
  explicit Connection(int socket) : fd(socket) {}
  int fd;
  HeartbeatReplies replies;
  size_t written = 0;  // bytes at the front of the answers already sent
  bool readPaused = false;
  bool closed = false;
};

class EventLoop {
 public:
  EventLoop(int listenFd, int stopFd) : listenFd_(listenFd), stopFd_(stopFd) {}
  ~EventLoop();
  bool Open();
  void Run();

 private:
  void AcceptAll();
  // Reads until the socket is empty, the turn is used up or too many answers wait; true when
  // bytes may still wait (the turn ended first), so the connection needs a turn without an edge.
  bool Read(Connection& connection);
  void Write(Connection& connection);
  void Close(Connection& connection);

  const int listenFd_;
  const int stopFd_;
  int epollFd_ = -1;
  std::vector<Connection*> again_;   // connections with a turn due before the next wait
  std::vector<Connection*> closed_;  // freed once no list of this round names them
  std::vector<Connection*> open_;
};

EventLoop::~EventLoop() {
  for (Connection* connection : open_) {
    if (!connection->closed) ::close(connection->fd);
    delete connection;
  }
  if (epollFd_ >= 0) ::close(epollFd_);
}

bool EventLoop::Open() {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) return false;
  // Each loop waits on the shared listen socket; EPOLLEXCLUSIVE wakes one of them per connection.
  epoll_event listen{};
  listen.events = EPOLLIN | EPOLLEXCLUSIVE;
  listen.data.ptr = nullptr;
  epoll_event stop{};
  stop.events = EPOLLIN;
  stop.data.ptr = this;
  return ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &listen) == 0 &&
         ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &stop) == 0;
}

void EventLoop::Run() {
  epoll_event events[kEventsPerWait];
  for (;;) {
    const int count = ::epoll_wait(epollFd_, events, kEventsPerWait, again_.empty() ? -1 : 0);
    if (count < 0 && errno != EINTR) return;
    for (int i = 0; i < count; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == this) return;
      if (tag == nullptr) {
        AcceptAll();
        continue;
      }
      Connection& connection = *static_cast<Connection*>(tag);
      const uint32_t ready = events[i].events;
      if ((ready & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !connection.readPaused &&
          Read(connection)) {
        again_.push_back(&connection);
      }
      if ((ready & EPOLLOUT) && !connection.closed && connection.written < connection.replies.Answers().size()) {
        Write(connection);
      }
    }
    std::vector<Connection*> due;
    due.swap(again_);
    for (Connection* connection : due) {
      if (!connection->closed && !connection->readPaused && Read(*connection)) again_.push_back(connection);
    }
    if (!closed_.empty()) {
      const auto isClosed = [](const Connection* connection) { return connection->closed; };
      again_.erase(std::remove_if(again_.begin(), again_.end(), isClosed), again_.end());
      open_.erase(std::remove_if(open_.begin(), open_.end(), isClosed), open_.end());
      for (Connection* connection : closed_) delete connection;
      closed_.clear();
    }
  }
}

void EventLoop::AcceptAll() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // nothing queued, another loop took it, or no descriptor is left for now
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto* connection = new Connection(fd);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.ptr = connection;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) {
      ::close(fd);
      delete connection;
      continue;
    }
    open_.push_back(connection);
  }
}

bool EventLoop::Read(Connection& connection) {
  for (int read = 0; read < kReadsPerTurn; ++read) {
    if (connection.replies.TooManyWaiting()) {
      connection.readPaused = true;
      return false;
    }
    const size_t room = connection.replies.ReadRoom();
    const ssize_t count = ::recv(connection.fd, connection.replies.ReadSpace(), room, 0);
    if (count > 0) {
      if (!connection.replies.Received(static_cast<size_t>(count))) {
        Close(connection);
        return false;
      }
      Write(connection);
      if (connection.closed) return false;
      // A read that did not fill the room emptied the socket; the next bytes bring a new edge.
      if (static_cast<size_t>(count) < room) return false;
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count == 0 || errno != EAGAIN) Close(connection);
    return false;
  }
  return true;
}

void EventLoop::Write(Connection& connection) {
  std::vector<uint8_t>& answers = connection.replies.Answers();
  while (connection.written < answers.size()) {
    const ssize_t sent = ::send(connection.fd, answers.data() + connection.written,
                                answers.size() - connection.written, MSG_NOSIGNAL);
    if (sent >= 0) {
      connection.written += static_cast<size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) Close(connection);
    return;  // the socket is full: its writable edge brings the rest
  }
  answers.clear();
  connection.written = 0;
  if (connection.readPaused) {
    connection.readPaused = false;
    again_.push_back(&connection);
  }
}

void EventLoop::Close(Connection& connection) {
  if (connection.closed) return;
  connection.closed = true;
  ::close(connection.fd);
  closed_.push_back(&connection);
}

int OpenListenSocket(const std::string& host, uint16_t port) {
  sockaddr_storage address{};
  socklen_t length = 0;
  const bool v6 = host.find(':') != std::string::npos;
  if (v6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    if (::inet_pton(AF_INET6, host.c_str(), &in6.sin6_addr) != 1) return -1;
    length = sizeof in6;
  } else {
    auto& in4 = reinterpret_cast<sockaddr_in&>(address);
    in4.sin_family = AF_INET;
    in4.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &in4.sin_addr) != 1) return -1;
    length = sizeof in4;
  }
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4096) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t ListenPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                             : reinterpret_cast<sockaddr_in&>(address).sin_port);
}

}  // namespace

int main(int argc, char** argv) {
  qolv::bench::ServerOptions options;
  options.threads = 1;
  if (!qolv::bench::ParseServerOptions(argc, argv, {"127.0.0.1", "::1"}, options)) {
    std::fputs("usage: epoll_frame_server [--host 127.0.0.1|::1] [--port N] [--threads N]\n", stderr);
    return 2;
  }
  // Many connections need more descriptors than the usual soft limit, as for the other servers.
  qolv::platform::StartSocketLibrary();
  const int listenFd = OpenListenSocket(options.host, options.port);
  if (listenFd < 0) {
    std::fprintf(stderr, "epoll_frame_server: cannot listen on %s port %u: %s\n", options.host.c_str(),
                 static_cast<unsigned>(options.port), std::strerror(errno));
    return 1;
  }
  // The stop signals are taken by sigwait below, so every thread blocks them from the start.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int stopFd = ::eventfd(0, EFD_CLOEXEC);

  std::vector<std::unique_ptr<EventLoop>> loops;
  for (uint32_t i = 0; i < options.threads; ++i) {
    loops.push_back(std::make_unique<EventLoop>(listenFd, stopFd));
    if (stopFd < 0 || !loops.back()->Open()) {
      std::fprintf(stderr, "epoll_frame_server: cannot create an event loop: %s\n", std::strerror(errno));
      return 1;
    }
  }
  std::fprintf(stderr, "epoll_frame_server: listening on %s port %u with %u threads\n", options.host.c_str(),
               static_cast<unsigned>(ListenPort(listenFd)), options.threads);
  std::vector<std::thread> threads;
  for (auto& loop : loops) threads.emplace_back([&loop] { loop->Run(); });

  int signal = 0;
  sigwait(&stopSignals, &signal);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(stopFd, &one, sizeof one);
  for (std::thread& thread : threads) thread.join();
  loops.clear();
  ::close(stopFd);
  ::close(listenFd);
  return 0;
}

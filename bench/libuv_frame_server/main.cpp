// libuv_frame_server: the libuv reference of the engine benchmark. One libuv loop on one thread,
// the way libuv is meant to be used; each connection reads into its HeartbeatReplies and writes
// the answers with one uv_write at a time. Listens on 127.0.0.1 or ::1; ends on SIGTERM or Ctrl-C.
#include <uv.h>

#include <cstdio>
#include <vector>

#include "heartbeat_replies.h"
#include "platform/socket_io.h"
#include "server_options.h"

namespace {

using qolv::bench::HeartbeatReplies;

struct Session {
  uv_tcp_t handle;
  uv_write_t write;
  HeartbeatReplies replies;
  std::vector<uint8_t> writing;  // the answers of the write under way
  bool writeBusy = false;
  bool readPaused = false;  // the peer does not take its answers: stop reading until it does
};

Session* SessionOf(uv_handle_t* handle) { return static_cast<Session*>(handle->data); }

void Freed(uv_handle_t* handle) { delete SessionOf(handle); }

void Close(Session* session) {
  auto* handle = reinterpret_cast<uv_handle_t*>(&session->handle);
  if (!uv_is_closing(handle)) uv_close(handle, Freed);
}

void ReadSpace(uv_handle_t* handle, size_t, uv_buf_t* buffer) {
  HeartbeatReplies& replies = SessionOf(handle)->replies;
  *buffer = uv_buf_init(reinterpret_cast<char*>(replies.ReadSpace()), static_cast<unsigned>(replies.ReadRoom()));
}

void OnRead(uv_stream_t* stream, ssize_t count, const uv_buf_t*);

void Write(Session* session);

void Written(uv_write_t* request, int status) {
  Session* session = static_cast<Session*>(request->data);
  session->writeBusy = false;
  session->writing.clear();
  if (status < 0) {
    Close(session);
    return;
  }
  if (!session->replies.Answers().empty()) Write(session);
  if (session->readPaused && !session->replies.TooManyWaiting()) {
    session->readPaused = false;
    uv_read_start(reinterpret_cast<uv_stream_t*>(&session->handle), ReadSpace, OnRead);
  }
}

void Write(Session* session) {
  session->writing.swap(session->replies.Answers());
  session->writeBusy = true;
  session->write.data = session;
  const uv_buf_t buffer =
      uv_buf_init(reinterpret_cast<char*>(session->writing.data()), static_cast<unsigned>(session->writing.size()));
  if (uv_write(&session->write, reinterpret_cast<uv_stream_t*>(&session->handle), &buffer, 1, Written) != 0) {
    session->writeBusy = false;
    Close(session);
  }
}

void OnRead(uv_stream_t* stream, ssize_t count, const uv_buf_t*) {
  Session* session = SessionOf(reinterpret_cast<uv_handle_t*>(stream));
  if (count == 0) return;  // nothing this time (EAGAIN)
  if (count < 0 || !session->replies.Received(static_cast<size_t>(count))) {
    Close(session);
    return;
  }
  if (!session->replies.Answers().empty() && !session->writeBusy) Write(session);
  if (session->replies.TooManyWaiting()) {
    session->readPaused = true;
    uv_read_stop(stream);
  }
}

void OnConnection(uv_stream_t* server, int status) {
  if (status < 0) return;
  auto* session = new Session;
  uv_tcp_init(server->loop, &session->handle);
  session->handle.data = session;
  auto* stream = reinterpret_cast<uv_stream_t*>(&session->handle);
  if (uv_accept(server, stream) != 0) {
    Close(session);
    return;
  }
  uv_tcp_nodelay(&session->handle, 1);
  uv_read_start(stream, ReadSpace, OnRead);
}

void OnStopSignal(uv_signal_t* signal, int) { uv_stop(signal->loop); }

}  // namespace

int main(int argc, char** argv) {
  qolv::bench::ServerOptions options;
  options.threads = 1;
  // One loop per thread is libuv's model; more loops would need the listen socket shared by hand.
  if (!qolv::bench::ParseServerOptions(argc, argv, {"127.0.0.1", "::1"}, options) || options.threads != 1) {
    std::fputs("usage: libuv_frame_server [--host 127.0.0.1|::1] [--port N] [--threads 1]\n", stderr);
    return 2;
  }
  // Many connections need more descriptors than the usual soft limit, as for the other servers.
  qolv::platform::StartSocketLibrary();
  uv_loop_t* loop = uv_default_loop();
  sockaddr_storage address{};
  const bool v6 = options.host.find(':') != std::string::npos;
  int result = v6 ? uv_ip6_addr(options.host.c_str(), options.port, reinterpret_cast<sockaddr_in6*>(&address))
                  : uv_ip4_addr(options.host.c_str(), options.port, reinterpret_cast<sockaddr_in*>(&address));
  uv_tcp_t server;
  uv_tcp_init(loop, &server);
  if (result == 0) result = uv_tcp_bind(&server, reinterpret_cast<const sockaddr*>(&address), 0);
  if (result == 0) result = uv_listen(reinterpret_cast<uv_stream_t*>(&server), 4096, OnConnection);
  if (result != 0) {
    std::fprintf(stderr, "libuv_frame_server: cannot listen on %s port %u: %s\n", options.host.c_str(),
                 static_cast<unsigned>(options.port), uv_strerror(result));
    return 1;
  }
  sockaddr_storage bound{};
  int length = sizeof bound;
  uv_tcp_getsockname(&server, reinterpret_cast<sockaddr*>(&bound), &length);
  const uint16_t port = ntohs(v6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                 : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  std::fprintf(stderr, "libuv_frame_server: listening on %s port %u with 1 thread\n", options.host.c_str(),
               static_cast<unsigned>(port));

  uv_signal_t terminate;
  uv_signal_t interrupt;
  uv_signal_init(loop, &terminate);
  uv_signal_init(loop, &interrupt);
  uv_signal_start(&terminate, OnStopSignal, SIGTERM);
  uv_signal_start(&interrupt, OnStopSignal, SIGINT);
  uv_run(loop, UV_RUN_DEFAULT);
  return 0;
}

// engine_frame_server: the engine's benchmark server. A pull server whose listener answers
// heartbeats at once (see HeartbeatAnswerer). Prints "listening port=N" once it listens and
// stops on SIGTERM, Ctrl-C, or the end of its standard input when that is a pipe or a console.
#include <atomic>
#include <cstdio>
#include <thread>

#include "heartbeat_answerer.h"
#include "net/engine_process_setup.h"
#include "net/server_holder.h"
#include "platform/clock.h"
#include "platform/console_stop.h"
#include "platform/system_error.h"
#include "server_options.h"

namespace {

// Like the service, the process set-up exists before main and ends after it.
qolv::net::CEngineProcessSetup g_processSetup;

std::atomic<bool> g_inputEnded{false};
constexpr uint32_t kMostConnections = 60000;

}  // namespace

int main(int argc, char** argv) {
  qolv::bench::ServerOptions options;  // threads 0: the engine's default
  if (!qolv::bench::ParseServerOptions(argc, argv, {"127.0.0.1", "0.0.0.0", "::1"}, options)) {
    std::fputs("usage: engine_frame_server [--host 127.0.0.1|0.0.0.0|::1] [--port N] [--threads N]\n",
               stderr);
    return 2;
  }
  qolv::bench::HeartbeatAnswerer answerer;
  qolv::net::TcpPullServerHolder server(&answerer);
  answerer.Attach(server.Get());
  // As the reference server does: answers go out at once instead of waiting for more bytes.
  server->SetNoDelay(true);
  if (options.threads != 0) server->SetWorkerThreadCount(options.threads);
  // The idle-connection runs hold up to 50,000 connections beside the active ones.
  server->SetMaxConnections(kMostConnections);
  if (!server->Start(options.host.c_str(), options.port)) {
    std::fprintf(stderr, "engine_frame_server: cannot listen on %s port %u: %s (%u)\n", options.host.c_str(),
                 static_cast<unsigned>(options.port), server->GetLastErrorText(),
                 qolv::platform::GetSystemError());
    return 1;
  }
  char address[64];
  int length = sizeof address;
  uint16_t port = 0;
  server->GetListenAddress(address, length, port);
  std::printf("listening port=%u\n", static_cast<unsigned>(port));
  std::fflush(stdout);

  qolv::platform::WatchConsoleStopRequests();
  if (qolv::platform::StandardInputCanSignalEnd()) {
    // Blocked in a read until the end of the input; the process may end while it waits.
    std::thread([] {
      while (std::fgetc(stdin) != EOF) {
      }
      g_inputEnded = true;
    }).detach();
  }
  while (!qolv::platform::ConsoleStopRequested() && !g_inputEnded) qolv::platform::SleepMs(50);

  server->Stop();
  std::fprintf(stderr, "engine_frame_server: answered %llu heartbeats\n",
               static_cast<unsigned long long>(answerer.Answered()));
  return 0;
}

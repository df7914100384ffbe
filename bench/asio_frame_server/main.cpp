// asio_frame_server: the reference frame server for the engine benchmark, written with
// Boost.Asio. Listens on a loopback address and answers heartbeats (see FrameSession).
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frame_session.h"
#include "platform/socket_io.h"

namespace {

using boost::asio::ip::tcp;

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  // The engine's default: two threads per processor plus two, all on one completion queue.
  unsigned threads = 2 * std::max(1u, std::thread::hardware_concurrency()) + 2;
};

bool ReadNumber(const char* text, unsigned low, unsigned high, unsigned& value) {
  const std::string s(text);
  const auto [stop, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  return error == std::errc() && stop == s.data() + s.size() && value >= low && value <= high;
}

bool ParseOptions(int argc, char** argv, ServerOptions& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    unsigned value = 0;
    if (name == "--host" && (std::string(argv[i + 1]) == "127.0.0.1" || std::string(argv[i + 1]) == "::1")) {
      options.host = argv[i + 1];
    } else if (name == "--port" && ReadNumber(argv[i + 1], 0, 65535, value)) {
      options.port = static_cast<uint16_t>(value);
    } else if (name == "--threads" && ReadNumber(argv[i + 1], 1, 512, value)) {
      options.threads = value;
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

// Each accepted socket gets a strand of its own, so its handlers never run at the same time.
void Accept(tcp::acceptor& acceptor, boost::asio::io_context& io) {
  acceptor.async_accept(boost::asio::make_strand(io),
                        [&acceptor, &io](const boost::system::error_code& error, tcp::socket socket) {
                          if (error == boost::asio::error::operation_aborted) return;
                          if (!error) std::make_shared<qolv::bench::FrameSession>(std::move(socket))->Start();
                          Accept(acceptor, io);
                        });
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs("usage: asio_frame_server [--host 127.0.0.1|::1] [--port N] [--threads N]\n", stderr);
    return 2;
  }
  // Ten thousand connections need more descriptors than the usual soft limit; starting the
  // socket library raises it to the hard limit.
  qolv::platform::StartSocketLibrary();

  boost::asio::io_context io(static_cast<int>(options.threads));
  tcp::acceptor acceptor(io);
  try {
    const tcp::endpoint endpoint(boost::asio::ip::make_address(options.host), options.port);
    acceptor.open(endpoint.protocol());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(tcp::socket::max_listen_connections);
  } catch (const boost::system::system_error& e) {
    std::fprintf(stderr, "asio_frame_server: cannot listen on %s port %u: %s\n", options.host.c_str(),
                 static_cast<unsigned>(options.port), e.what());
    return 1;
  }
  std::fprintf(stderr, "asio_frame_server: listening on %s port %u with %u threads\n", options.host.c_str(),
               static_cast<unsigned>(acceptor.local_endpoint().port()), options.threads);

  boost::asio::signal_set stopSignals(io, SIGINT, SIGTERM);
  stopSignals.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
  Accept(acceptor, io);

  std::vector<std::thread> threads;
  for (unsigned i = 1; i < options.threads; ++i) threads.emplace_back([&io] { io.run(); });
  io.run();
  for (std::thread& thread : threads) thread.join();
  return 0;
}

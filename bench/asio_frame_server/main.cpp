// asio_frame_server: the reference frame server for the engine benchmark, written with
// Boost.Asio. Listens on a loopback address and answers heartbeats (see FrameSession).
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "frame_session.h"
#include "platform/socket_io.h"
#include "server_options.h"

namespace {

using boost::asio::ip::tcp;

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
  qolv::bench::ServerOptions options;
  // The engine's default: two threads per processor plus two, all on one completion queue.
  options.threads = 2 * std::max(1u, std::thread::hardware_concurrency()) + 2;
  if (!qolv::bench::ParseServerOptions(argc, argv, {"127.0.0.1", "::1"}, options)) {
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

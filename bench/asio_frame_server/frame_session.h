#pragma once
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <vector>

namespace qolv::bench {

// One connection of the reference server: cuts the bytes into frames by the 48-byte header and
// its body length, answers every heartbeat (type 1, empty body) with type 101 and the same id,
// and closes the connection on a header that does not start with "QV". Its handlers run on the
// socket's strand, so the session needs no lock although many threads run the io_context.
class FrameSession : public std::enable_shared_from_this<FrameSession> {
 public:
  explicit FrameSession(boost::asio::ip::tcp::socket socket);
  void Start();

 private:
  void Read();
  void OnRead(const boost::system::error_code& error, size_t count);
  // Cuts every whole frame out of the bytes read; false when the connection must be closed.
  bool CutFrames();
  void Write();
  void Close();

  boost::asio::ip::tcp::socket socket_;
  std::vector<uint8_t> in_;
  size_t inEnd_ = 0;
  std::vector<uint8_t> pending_;  // answers queued while a write is under way
  std::vector<uint8_t> writing_;  // the answers of the write under way
  bool writeBusy_ = false;
  bool readPaused_ = false;  // the peer does not take its answers: stop reading until it does
};

}  // namespace qolv::bench

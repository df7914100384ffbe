#pragma once
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <vector>

#include "heartbeat_replies.h"

namespace qolv::bench {

// One connection of the Asio reference server: reads into its HeartbeatReplies and writes the
// answers, one write at a time. Its handlers run on the socket's strand, so the session needs no
// lock although many threads run the io_context.
class FrameSession : public std::enable_shared_from_this<FrameSession> {
 public:
  explicit FrameSession(boost::asio::ip::tcp::socket socket);
  void Start();

 private:
  void Read();
  void OnRead(const boost::system::error_code& error, size_t count);
  void Write();
  void Close();

  boost::asio::ip::tcp::socket socket_;
  HeartbeatReplies replies_;
  std::vector<uint8_t> writing_;  // the answers of the write under way
  bool writeBusy_ = false;
  bool readPaused_ = false;  // the peer does not take its answers: stop reading until it does
};

}  // namespace qolv::bench

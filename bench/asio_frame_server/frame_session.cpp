#include "frame_session.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>

namespace qolv::bench {

FrameSession::FrameSession(boost::asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}

void FrameSession::Start() {
  boost::system::error_code ignored;
  socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
  Read();
}

void FrameSession::Read() {
  socket_.async_read_some(boost::asio::buffer(replies_.ReadSpace(), replies_.ReadRoom()),
                          [self = shared_from_this()](const boost::system::error_code& error, size_t count) {
                            self->OnRead(error, count);
                          });
}

void FrameSession::OnRead(const boost::system::error_code& error, size_t count) {
  if (error) return;  // closed or reset: the last handler's reference goes and the socket with it
  if (!replies_.Received(count)) {
    Close();
    return;
  }
  if (!replies_.Answers().empty() && !writeBusy_) Write();
  if (replies_.TooManyWaiting()) {
    readPaused_ = true;
    return;
  }
  Read();
}

void FrameSession::Write() {
  writing_.swap(replies_.Answers());
  writeBusy_ = true;
  boost::asio::async_write(socket_, boost::asio::buffer(writing_),
                           [self = shared_from_this()](const boost::system::error_code& error, size_t) {
                             self->writeBusy_ = false;
                             self->writing_.clear();
                             if (error) {
                               self->Close();
                               return;
                             }
                             if (!self->replies_.Answers().empty()) self->Write();
                             if (self->readPaused_ && !self->replies_.TooManyWaiting()) {
                               self->readPaused_ = false;
                               self->Read();
                             }
                           });
}

void FrameSession::Close() {
  boost::system::error_code ignored;
  socket_.close(ignored);
}

}  // namespace qolv::bench

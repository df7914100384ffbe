#include "frame_session.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>
#include <cstring>

#include "frame_codec.h"

namespace qolv::bench {
namespace {

constexpr size_t kInitialBuffer = 4096;       // the engine's default receive block
constexpr uint32_t kLargestBody = 64u << 20;  // a reference server need not buffer more
constexpr size_t kMostPending = 1u << 20;

}  // namespace

FrameSession::FrameSession(boost::asio::ip::tcp::socket socket)
    : socket_(std::move(socket)), in_(kInitialBuffer) {}

void FrameSession::Start() {
  boost::system::error_code ignored;
  socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
  Read();
}

void FrameSession::Read() {
  if (in_.size() - inEnd_ < kInitialBuffer / 2) in_.resize(in_.size() * 2);
  socket_.async_read_some(boost::asio::buffer(in_.data() + inEnd_, in_.size() - inEnd_),
                          [self = shared_from_this()](const boost::system::error_code& error, size_t count) {
                            self->OnRead(error, count);
                          });
}

void FrameSession::OnRead(const boost::system::error_code& error, size_t count) {
  if (error) return;  // closed or reset: the last handler's reference goes and the socket with it
  inEnd_ += count;
  if (!CutFrames()) {
    Close();
    return;
  }
  if (!pending_.empty() && !writeBusy_) Write();
  if (pending_.size() > kMostPending) {
    readPaused_ = true;
    return;
  }
  Read();
}

bool FrameSession::CutFrames() {
  size_t used = 0;
  uint64_t nowMs = 0;
  for (;;) {
    const client::CutFrame cut = client::CutNextFrame(in_.data() + used, inEnd_ - used, kLargestBody);
    if (cut.status == client::CutStatus::kNeedMore) break;
    if (cut.status != client::CutStatus::kFrame) return false;
    if (cut.header.type == TPMT_HEART_BEAT && cut.bodyLength == 0) {
      if (nowMs == 0) nowMs = client::UnixTimeMs();
      const FrameHeader ack = client::MakeFrameHeader(TPMT_ACK_HEART_BEAT, cut.header.messageId, nowMs, 0);
      const auto* bytes = reinterpret_cast<const uint8_t*>(&ack);
      pending_.insert(pending_.end(), bytes, bytes + FrameHeader::kSize);
    }
    used += cut.size;
  }
  std::memmove(in_.data(), in_.data() + used, inEnd_ - used);
  inEnd_ -= used;
  return true;
}

void FrameSession::Write() {
  writing_.swap(pending_);
  writeBusy_ = true;
  boost::asio::async_write(socket_, boost::asio::buffer(writing_),
                           [self = shared_from_this()](const boost::system::error_code& error, size_t) {
                             self->writeBusy_ = false;
                             self->writing_.clear();
                             if (error) {
                               self->Close();
                               return;
                             }
                             if (!self->pending_.empty()) self->Write();
                             if (self->readPaused_ && self->pending_.size() <= kMostPending) {
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

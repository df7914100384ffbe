#include "support/request/recording_delegate.h"

#include <chrono>

#include "protocol/frame_header.h"

namespace qolv::testing {
namespace {
constexpr auto kPatience = std::chrono::seconds(30);
}  // namespace

void RecordingDelegate::OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header,
                                  const uint8_t* body, int32_t bodyLength) {
  DeliveredFrame frame;
  frame.port = localPort;
  frame.connectionId = connectionId;
  frame.header.assign(reinterpret_cast<const char*>(header), FrameHeader::kSize);
  frame.bodyIsNull = body == nullptr;
  if (body != nullptr)
    frame.body.assign(reinterpret_cast<const char*>(body), static_cast<size_t>(bodyLength));
  std::lock_guard<std::mutex> guard(mutex_);
  frames_.push_back(std::move(frame));
  changed_.notify_all();
}

void RecordingDelegate::OnConnectionClosed(uint16_t, uint32_t connectionId) {
  std::lock_guard<std::mutex> guard(mutex_);
  closed_.push_back(connectionId);
  changed_.notify_all();
}

std::vector<DeliveredFrame> RecordingDelegate::Frames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return frames_;
}

std::vector<uint32_t> RecordingDelegate::Closed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return closed_;
}

bool RecordingDelegate::WaitForFrames(size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= count; });
}

bool RecordingDelegate::WaitForClosed(size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] { return closed_.size() >= count; });
}

}  // namespace qolv::testing

#include "support/request/frame_client.h"

#include <chrono>

#include "platform/error_codes.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"

namespace qolv::testing {
namespace {

using Clock = std::chrono::steady_clock;

uint32_t RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

}  // namespace

FrameClient::FrameClient(uint16_t port) {
  socket_ = platform::CreateStreamSocket(platform::kFamilyInet);
  if (socket_ == platform::kInvalidSocket) {
    connectError_ = err::kWsaNotSocket;
    return;
  }
  platform::SockAddr address{};
  connectError_ = platform::TextToAddress("127.0.0.1", platform::kFamilyInet, address);
  if (connectError_ != 0) return;
  platform::SetAddressPort(address, port);
  connectError_ = platform::ConnectBlocking(socket_, address, kClientPatienceMs);
  if (connectError_ == 0) platform::SetNoDelay(socket_, true);
}

FrameClient::~FrameClient() { Close(); }

void FrameClient::Close() {
  platform::CloseSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

bool FrameClient::Send(const std::string& bytes) {
  return platform::SendBlocking(socket_, bytes.data(), static_cast<uint32_t>(bytes.size()),
                                kClientPatienceMs) == 0;
}

uint32_t FrameClient::ReceiveOnce(uint32_t timeoutMs, uint32_t& received) {
  char buffer[16384];
  received = 0;
  const uint32_t error = platform::ReceiveBlocking(socket_, buffer, sizeof buffer, &received, timeoutMs);
  if (error == 0) pending_.append(buffer, received);
  return error;
}

std::vector<Answer> FrameClient::Read(size_t count) {
  std::vector<Answer> answers;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kClientPatienceMs);
  while (answers.size() < count) {
    Answer answer;
    if (TakeAnswer(pending_, answer)) {
      answers.push_back(std::move(answer));
      continue;
    }
    uint32_t received = 0;
    const uint32_t timeLeft = RemainingMs(deadline);
    if (timeLeft == 0 || ReceiveOnce(timeLeft, received) != 0 || received == 0) break;
  }
  return answers;
}

bool FrameClient::WaitClosed() {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kClientPatienceMs);
  for (;;) {
    uint32_t received = 0;
    const uint32_t timeLeft = RemainingMs(deadline);
    if (timeLeft == 0) return false;
    const uint32_t error = ReceiveOnce(timeLeft, received);
    if (error == err::kWsaTimedOut) return false;
    // A reset is a close as well: the server may drop the connection with bytes unread.
    if (error != 0 || received == 0) return true;
  }
}

bool FrameClient::Quiet(uint32_t quietMs) {
  uint32_t received = 0;
  return ReceiveOnce(quietMs, received) == err::kWsaTimedOut;
}

}  // namespace qolv::testing

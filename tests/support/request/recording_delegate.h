#pragma once
// A TcpService delegate that keeps what it is told, for tests on any thread.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "request/tcp_service.h"

namespace qolv::testing {

struct DeliveredFrame {
  uint16_t port = 0;
  uint32_t connectionId = 0;
  std::string header;
  bool bodyIsNull = false;
  std::string body;
};

class RecordingDelegate : public TcpService::Delegate {
 public:
  void OnMessage(uint16_t localPort, uint32_t connectionId, const uint8_t* header, const uint8_t* body,
                 int32_t bodyLength) override;
  void OnConnectionClosed(uint16_t localPort, uint32_t connectionId) override;

  std::vector<DeliveredFrame> Frames() const;
  std::vector<uint32_t> Closed() const;
  // Wait, up to a generous limit, until at least count frames or closes were reported.
  bool WaitForFrames(size_t count) const;
  bool WaitForClosed(size_t count) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<DeliveredFrame> frames_;
  std::vector<uint32_t> closed_;
};

}  // namespace qolv::testing

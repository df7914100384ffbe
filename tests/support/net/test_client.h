#pragma once
// A blocking loopback client for the engine tests; it never touches a completion port.
#include <cstdint>
#include <string>

#include "platform/socket_types.h"

namespace qolv::net::testing {

inline constexpr uint32_t kPatience = 10000;  // ms; generous for a slow shared machine

class TestClient {
 public:
  explicit TestClient(uint16_t family = platform::kFamilyInet);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // Connects to the family's loopback address; the error (0 on success).
  uint32_t Connect(uint16_t port);
  bool Send(const std::string& bytes);
  // Reads until exactly count bytes came, the peer closed or kPatience passed; what came.
  std::string Receive(size_t count);
  // True once the server closed the connection (an orderly close or a reset) within timeoutMs.
  bool WaitClosed(uint32_t timeoutMs = kPatience);
  // True when nothing arrives and the connection stays open for quietMs.
  bool StaysQuiet(uint32_t quietMs);
  // Sends nothing more; the server sees an orderly end of the stream.
  void ShutdownSend();
  void Close();
  // Closes with a reset instead of an orderly close.
  void Reset();
  uint16_t LocalPort() const;

 private:
  uint16_t family_;
  platform::SocketHandle socket_;
};

}  // namespace qolv::net::testing

#include "test_client.h"

#include "platform/error_codes.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"

namespace qolv::net::testing {

TestClient::TestClient(uint16_t family) : family_(family), socket_(platform::CreateStreamSocket(family)) {}

TestClient::~TestClient() { Close(); }

uint32_t TestClient::Connect(uint16_t port) {
  platform::SockAddr address{};
  const char* loopback = family_ == platform::kFamilyInet6 ? "::1" : "127.0.0.1";
  if (const uint32_t error = platform::TextToAddress(loopback, family_, address)) return error;
  platform::SetAddressPort(address, port);
  return platform::ConnectBlocking(socket_, address, kPatience);
}

bool TestClient::Send(const std::string& bytes) {
  return platform::SendBlocking(socket_, bytes.data(), static_cast<uint32_t>(bytes.size()), kPatience) ==
         err::kSuccess;
}

std::string TestClient::Receive(size_t count) {
  std::string received;
  char buffer[16384];
  while (received.size() < count) {
    const size_t wanted = count - received.size() < sizeof buffer ? count - received.size() : sizeof buffer;
    uint32_t got = 0;
    if (platform::ReceiveBlocking(socket_, buffer, static_cast<uint32_t>(wanted), &got, kPatience) !=
            err::kSuccess ||
        got == 0) {
      break;
    }
    received.append(buffer, got);
  }
  return received;
}

bool TestClient::WaitClosed(uint32_t timeoutMs) {
  char buffer[4096];
  // Bytes the server sent before closing are read past; each wait is bounded.
  for (int reads = 0; reads < 10000; ++reads) {
    uint32_t got = 0;
    const uint32_t error = platform::ReceiveBlocking(socket_, buffer, sizeof buffer, &got, timeoutMs);
    if (error == err::kWsaTimedOut) return false;
    if (error != err::kSuccess || got == 0) return true;
  }
  return false;
}

bool TestClient::StaysQuiet(uint32_t quietMs) {
  char byte = 0;
  uint32_t got = 0;
  return platform::ReceiveBlocking(socket_, &byte, 1, &got, quietMs) == err::kWsaTimedOut;
}

void TestClient::ShutdownSend() { platform::ShutdownSocket(socket_, 1); }

void TestClient::Close() {
  platform::CloseSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

void TestClient::Reset() {
  platform::SetLingerAbort(socket_);
  Close();
}

uint16_t TestClient::LocalPort() const {
  platform::SockAddr address{};
  if (platform::LocalAddress(socket_, address) != err::kSuccess) return 0;
  return platform::AddressPort(address);
}

}  // namespace qolv::net::testing

#pragma once
// A pull server that no socket stands behind: tests put received bytes into it and raise the
// listener's events themselves, so the frame cutting is seen byte for byte.
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "net/server_holder.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::testing {

class FakePullServer : public net::TcpPullServer {
 public:
  // Bytes received for a connection and not fetched yet.
  std::map<uint32_t, std::string> waiting;
  std::map<uint32_t, void*> extras;
  bool refuseExtra = false;  // SetConnectionExtra fails, as for an id that is not live
  int fetchCalls = 0;
  // Every SetReceivePaused call, in order, and whether each connection is paused now.
  std::vector<std::pair<uint32_t, bool>> pauseCalls;
  std::map<uint32_t, bool> paused;

  net::PullResult Fetch(uint32_t id, uint8_t* destination, int32_t length) override {
    ++fetchCalls;
    auto found = waiting.find(id);
    if (found == waiting.end()) return net::PullResult::NoBuffer;
    if (length <= 0) return net::PullResult::Ok;
    std::string& bytes = found->second;
    if (static_cast<int32_t>(bytes.size()) < length) return net::PullResult::Insufficient;
    std::memcpy(destination, bytes.data(), static_cast<size_t>(length));
    bytes.erase(0, static_cast<size_t>(length));
    return net::PullResult::Ok;
  }
  net::PullResult Peek(uint32_t, uint8_t*, int32_t) override { return net::PullResult::NoBuffer; }

  bool SetConnectionExtra(uint32_t id, void* extra) override {
    if (refuseExtra) return false;
    extras[id] = extra;
    return true;
  }
  bool GetConnectionExtra(uint32_t id, void*& extra) const override {
    auto found = extras.find(id);
    if (found == extras.end()) return false;
    extra = found->second;
    return true;
  }
  bool GetRemoteAddress(uint32_t, char address[], int& length, uint16_t& port) const override {
    return WriteAddress("127.0.0.1", 50123, address, length, port);
  }
  bool GetListenAddress(char address[], int& length, uint16_t& port) const override {
    return WriteAddress("0.0.0.0", 45678, address, length, port);
  }
  const char* GetLastErrorText() const override { return "SUCCESS"; }
  bool SetReceivePaused(uint32_t id, bool pause) override {
    pauseCalls.emplace_back(id, pause);
    paused[id] = pause;
    return true;
  }

  // Everything else fails or reports nothing: the events under test do not use it.
  bool Start(const char*, uint16_t) override { return Fail(); }
  bool Stop() override { return Fail(); }
  bool Send(uint32_t, const uint8_t*, int32_t, int32_t) override { return Fail(); }
  bool SendBuffers(uint32_t, const net::BufferView[], int32_t) override { return Fail(); }
  bool SendMappedFile(uint32_t, const char*, const net::BufferView*, const net::BufferView*) override {
    return Fail();
  }
  bool Disconnect(uint32_t, bool) override { return Fail(); }
  bool DisconnectByAge(uint32_t, bool) override { return Fail(); }
  bool DisconnectIdle(uint32_t, bool) override { return Fail(); }
  bool WaitStopped(uint32_t) override { return true; }
  bool IsRunning() const override { return false; }
  net::ServerState GetServerState() const override { return net::ServerState::Stopped; }
  uint32_t CountConnections() const override { return 0; }
  bool GetConnectionIds(uint32_t[], uint32_t& count) const override { return (count = 0, false); }
  bool GetConnectionAge(uint32_t, uint32_t&) const override { return Fail(); }
  bool GetIdleTime(uint32_t, uint32_t&) const override { return Fail(); }
  bool GetConnectionLocalAddress(uint32_t, char[], int&, uint16_t&) const override { return Fail(); }
  net::ServerError GetLastErrorCode() const override { return net::ServerError::Success; }
  bool GetPendingSendLength(uint32_t, int32_t&) const override { return Fail(); }
  bool IsReceivePaused(uint32_t, bool&) const override { return Fail(); }
  bool IsConnectionOpen(uint32_t) const override { return false; }
  void SetAddressReusePolicy(net::AddressReusePolicy) override {}
  void SetSendPolicy(net::SendPolicy) override {}
  void SetSendEventLocking(net::SendEventLocking) override {}
  void SetMaxConnections(uint32_t) override {}
  void SetReuseDelay(uint32_t) override {}
  void SetConnectionPoolSize(int32_t) override {}
  void SetBlockPoolSize(int32_t) override {}
  void SetConnectionPoolHold(int32_t) override {}
  void SetBlockPoolHold(int32_t) override {}
  void SetWorkerThreadCount(uint32_t) override {}
  void SetTrackSilence(bool) override {}
  void SetPendingAcceptCount(uint32_t) override {}
  void SetBufferSize(int32_t) override {}
  void SetListenBacklog(int32_t) override {}
  void SetKeepAliveTime(uint32_t) override {}
  void SetKeepAliveInterval(uint32_t) override {}
  void SetNoDelay(bool) override {}
  net::AddressReusePolicy GetAddressReusePolicy() const override { return net::AddressReusePolicy::None; }
  net::SendPolicy GetSendPolicy() const override { return net::SendPolicy::Batched; }
  net::SendEventLocking GetSendEventLocking() const override { return net::SendEventLocking::Unlocked; }
  uint32_t GetMaxConnections() const override { return 0; }
  uint32_t GetReuseDelay() const override { return 0; }
  int32_t GetConnectionPoolSize() const override { return 0; }
  int32_t GetBlockPoolSize() const override { return 0; }
  int32_t GetConnectionPoolHold() const override { return 0; }
  int32_t GetBlockPoolHold() const override { return 0; }
  uint32_t GetWorkerThreadCount() const override { return 0; }
  bool GetTrackSilence() const override { return false; }
  uint32_t GetPendingAcceptCount() const override { return 0; }
  int32_t GetBufferSize() const override { return 0; }
  int32_t GetListenBacklog() const override { return 0; }
  uint32_t GetKeepAliveTime() const override { return 0; }
  uint32_t GetKeepAliveInterval() const override { return 0; }
  bool GetNoDelay() const override { return false; }

 private:
  static bool Fail() {
    platform::SetSystemError(err::kObjectNotFound);
    return false;
  }
  static bool WriteAddress(const char* text, uint16_t value, char address[], int& length, uint16_t& port) {
    const int needed = static_cast<int>(std::strlen(text)) + 1;
    if (length < needed) return false;
    std::memcpy(address, text, static_cast<size_t>(needed));
    length = needed;
    port = value;
    return true;
  }
};

}  // namespace qolv::testing

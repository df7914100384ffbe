#pragma once
// The seventeen configuration properties of a server. The server holds this object as its first
// member and binds it to its state: a setter acts only while the server is Stopped, so the
// workers can read the values as plain fields without a lock.
#include <atomic>
#include <cstdint>

#include "net/engine_types.h"

namespace qolv::net {

class CServerProperties {
 public:
  static constexpr uint32_t kMaxConnectionsLimit = 5000000;
  static constexpr uint32_t kWorkerThreadLimit = 512;
  static constexpr int32_t kMinBufferSize = 88;
  static constexpr uint32_t kMinReuseDelay = 1000;
  static constexpr uint32_t kMinKeepAlive = 1000;

  // Only keeps the reference, so state may be a later member of the server than this object.
  explicit CServerProperties(const std::atomic<ServerState>& state);
  CServerProperties(const CServerProperties&) = delete;
  CServerProperties& operator=(const CServerProperties&) = delete;

  void SetAddressReusePolicy(AddressReusePolicy value) { Assign(addressReusePolicy_, value); }
  void SetSendPolicy(SendPolicy value) { Assign(sendPolicy_, value); }
  void SetSendEventLocking(SendEventLocking value) { Assign(sendEventLocking_, value); }
  void SetMaxConnections(uint32_t value) { Assign(maxConnections_, value); }
  void SetWorkerThreadCount(uint32_t value) { Assign(workerThreadCount_, value); }
  void SetListenBacklog(int32_t value) { Assign(listenBacklog_, value); }
  void SetPendingAcceptCount(uint32_t value) { Assign(pendingAcceptCount_, value); }
  void SetBufferSize(int32_t value) { Assign(bufferSize_, value); }
  void SetReuseDelay(uint32_t value) { Assign(reuseDelay_, value); }
  void SetConnectionPoolSize(int32_t value) { Assign(connectionPoolSize_, value); }
  void SetBlockPoolSize(int32_t value) { Assign(blockPoolSize_, value); }
  void SetConnectionPoolHold(int32_t value) { Assign(connectionPoolHold_, value); }
  void SetBlockPoolHold(int32_t value) { Assign(blockPoolHold_, value); }
  void SetKeepAliveTime(uint32_t value) { Assign(keepAliveTime_, value); }
  void SetKeepAliveInterval(uint32_t value) { Assign(keepAliveInterval_, value); }
  void SetTrackSilence(bool value) { Assign(trackSilence_, value); }
  void SetNoDelay(bool value) { Assign(noDelay_, value); }

  AddressReusePolicy GetAddressReusePolicy() const { return addressReusePolicy_; }
  SendPolicy GetSendPolicy() const { return sendPolicy_; }
  SendEventLocking GetSendEventLocking() const { return sendEventLocking_; }
  uint32_t GetMaxConnections() const { return maxConnections_; }
  uint32_t GetWorkerThreadCount() const { return workerThreadCount_; }
  int32_t GetListenBacklog() const { return listenBacklog_; }
  uint32_t GetPendingAcceptCount() const { return pendingAcceptCount_; }
  int32_t GetBufferSize() const { return bufferSize_; }
  uint32_t GetReuseDelay() const { return reuseDelay_; }
  int32_t GetConnectionPoolSize() const { return connectionPoolSize_; }
  int32_t GetBlockPoolSize() const { return blockPoolSize_; }
  int32_t GetConnectionPoolHold() const { return connectionPoolHold_; }
  int32_t GetBlockPoolHold() const { return blockPoolHold_; }
  uint32_t GetKeepAliveTime() const { return keepAliveTime_; }
  uint32_t GetKeepAliveInterval() const { return keepAliveInterval_; }
  bool GetTrackSilence() const { return trackSilence_; }
  bool GetNoDelay() const { return noDelay_; }

  // Validates the values in a fixed order. On the first one out of range it stores
  // InvalidParameter in error, sets the system error to 87 and returns false; otherwise it
  // changes nothing. The address reuse policy is checked when the listen socket is made.
  bool CheckSettings(ServerError& error) const;

 private:
  template <typename T>
  void Assign(T& field, T value) {
    if (state_.load(std::memory_order_acquire) == ServerState::Stopped) field = value;
  }

  const std::atomic<ServerState>& state_;
  AddressReusePolicy addressReusePolicy_ = AddressReusePolicy::None;
  SendPolicy sendPolicy_ = SendPolicy::Batched;
  SendEventLocking sendEventLocking_ = SendEventLocking::Unlocked;
  uint32_t maxConnections_ = 10000;
  uint32_t workerThreadCount_;
  int32_t listenBacklog_ = 0x7FFFFFFF;
  uint32_t pendingAcceptCount_ = 300;
  int32_t bufferSize_ = 4096;
  uint32_t reuseDelay_ = 30000;
  int32_t connectionPoolSize_ = 600;
  int32_t blockPoolSize_ = 1024;
  int32_t connectionPoolHold_ = 600;
  int32_t blockPoolHold_ = 1024;
  uint32_t keepAliveTime_ = 60000;
  uint32_t keepAliveInterval_ = 20000;
  bool trackSilence_ = true;
  bool noDelay_ = false;
};

}  // namespace qolv::net

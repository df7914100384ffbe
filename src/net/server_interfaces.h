#pragma once
// The operations a server offers its application, in interface order. The application names
// connections only by the ids the engine issues. A live id maps to a connection in the table; a
// valid connection is a live one whose close has not begun. Failures leave the engine's last
// error code (start and stop) and the thread's system error (see platform/system_error.h).
// Address texts are written into a caller's buffer: length is its capacity in characters on
// entry and the characters used (terminator included) on return.
#include <cstdint>

#include "net/engine_types.h"
#include "platform/clock.h"
#include "platform/socket_types.h"

namespace qolv::net {

class IComplexSocket {
 public:
  virtual bool Stop() = 0;
  // Sends length bytes from data + offset.
  virtual bool Send(uint32_t connectionId, const uint8_t* data, int32_t length, int32_t offset = 0) = 0;
  virtual bool SendBuffers(uint32_t connectionId, const BufferView buffers[], int32_t count) = 0;
  virtual bool SetReceivePaused(uint32_t connectionId, bool paused) = 0;
  virtual bool Disconnect(uint32_t connectionId, bool force = true) = 0;
  // Disconnects every valid connection at least periodMs old, or idle that long.
  virtual bool DisconnectByAge(uint32_t periodMs, bool force = true) = 0;
  virtual bool DisconnectIdle(uint32_t periodMs, bool force = true) = 0;
  // True once the server is stopped; platform::kInfinite waits without limit.
  virtual bool WaitStopped(uint32_t timeoutMs = platform::kInfinite) = 0;
  // The application's pointer for a live id; works inside OnClose too.
  virtual bool SetConnectionExtra(uint32_t connectionId, void* extra) = 0;
  virtual bool GetConnectionExtra(uint32_t connectionId, void*& extra) const = 0;
  virtual bool IsRunning() const = 0;
  virtual ServerState GetServerState() const = 0;
  virtual uint32_t CountConnections() const = 0;
  // With no array or a count of 0 it only reports the number of live ids (and returns false).
  virtual bool GetConnectionIds(uint32_t ids[], uint32_t& count) const = 0;
  virtual bool GetConnectionAge(uint32_t connectionId, uint32_t& ageMs) const = 0;
  virtual bool GetIdleTime(uint32_t connectionId, uint32_t& idleMs) const = 0;
  virtual bool GetConnectionLocalAddress(uint32_t connectionId, char address[], int& length,
                                         uint16_t& port) const = 0;
  virtual bool GetRemoteAddress(uint32_t connectionId, char address[], int& length, uint16_t& port) const = 0;
  virtual ServerError GetLastErrorCode() const = 0;
  virtual const char* GetLastErrorText() const = 0;
  virtual bool GetPendingSendLength(uint32_t connectionId, int32_t& length) const = 0;
  virtual bool IsReceivePaused(uint32_t connectionId, bool& paused) const = 0;
  virtual bool IsConnectionOpen(uint32_t connectionId) const = 0;

  // Setters act only while the server is Stopped; getters answer at any time.
  virtual void SetAddressReusePolicy(AddressReusePolicy value) = 0;
  virtual void SetSendPolicy(SendPolicy value) = 0;
  virtual void SetSendEventLocking(SendEventLocking value) = 0;
  virtual void SetMaxConnections(uint32_t value) = 0;
  virtual void SetReuseDelay(uint32_t value) = 0;
  virtual void SetConnectionPoolSize(int32_t value) = 0;
  virtual void SetBlockPoolSize(int32_t value) = 0;
  virtual void SetConnectionPoolHold(int32_t value) = 0;
  virtual void SetBlockPoolHold(int32_t value) = 0;
  virtual void SetWorkerThreadCount(uint32_t value) = 0;
  virtual void SetTrackSilence(bool value) = 0;
  virtual AddressReusePolicy GetAddressReusePolicy() const = 0;
  virtual SendPolicy GetSendPolicy() const = 0;
  virtual SendEventLocking GetSendEventLocking() const = 0;
  virtual uint32_t GetMaxConnections() const = 0;
  virtual uint32_t GetReuseDelay() const = 0;
  virtual int32_t GetConnectionPoolSize() const = 0;
  virtual int32_t GetBlockPoolSize() const = 0;
  virtual int32_t GetConnectionPoolHold() const = 0;
  virtual int32_t GetBlockPoolHold() const = 0;
  virtual uint32_t GetWorkerThreadCount() const = 0;
  virtual bool GetTrackSilence() const = 0;

  // Stops the server if it is running, then frees everything.
  virtual ~IComplexSocket() = default;
};

class IServer : public IComplexSocket {
 public:
  // Listens on address (null or empty: "0.0.0.0") and port.
  virtual bool Start(const char* address, uint16_t port) = 0;
  virtual bool GetListenAddress(char address[], int& length, uint16_t& port) const = 0;
};

class ITcpServer : public IServer {
 public:
  // Sends head, the whole file and tail as one gathered send; head and tail may be null.
  virtual bool SendMappedFile(uint32_t connectionId, const char* fileName, const BufferView* head = nullptr,
                              const BufferView* tail = nullptr) = 0;

  virtual void SetPendingAcceptCount(uint32_t value) = 0;
  virtual void SetBufferSize(int32_t value) = 0;
  virtual void SetListenBacklog(int32_t value) = 0;
  virtual void SetKeepAliveTime(uint32_t value) = 0;
  virtual void SetKeepAliveInterval(uint32_t value) = 0;
  virtual void SetNoDelay(bool value) = 0;
  virtual uint32_t GetPendingAcceptCount() const = 0;
  virtual int32_t GetBufferSize() const = 0;
  virtual int32_t GetListenBacklog() const = 0;
  virtual uint32_t GetKeepAliveTime() const = 0;
  virtual uint32_t GetKeepAliveInterval() const = 0;
  virtual bool GetNoDelay() const = 0;
};

}  // namespace qolv::net

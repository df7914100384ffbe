#pragma once
// The events a server raises on its listener, in interface order. Each passes the server as
// Sender. Only an Error result changes what the engine does; Ok and Ignore are alike. OnAccept,
// OnReady, every OnReceive and OnClose of one connection run under that connection's receive
// lock, so they never overlap; the listener may call any server operation from an event except
// Stop.
#include <cstdint>

#include "net/engine_types.h"
#include "platform/socket_types.h"

namespace qolv::net {

class ITcpServer;

template <typename Sender>
class ISocketListenerT {
 public:
  // After OnAccept; Error closes the connection without OnClose.
  virtual EventResult OnReady(Sender* sender, uint32_t connectionId) = 0;
  // After each completed send: the bytes of that send and the count the system reported.
  virtual EventResult OnSent(Sender* sender, uint32_t connectionId, const uint8_t* data, int32_t length) = 0;
  // Pull model: length bytes are now waiting in the connection's buffer.
  virtual EventResult OnReceive(Sender* sender, uint32_t connectionId, int32_t length) = 0;
  // Push model: the received bytes, valid during the call only. Error closes the connection.
  virtual EventResult OnReceive(Sender* sender, uint32_t connectionId, const uint8_t* data,
                                int32_t length) = 0;
  // Once per connection; the id still resolves for the extra pointer and the remote address.
  virtual EventResult OnClose(Sender* sender, uint32_t connectionId, SocketOp operation,
                              uint32_t errorCode) = 0;
  virtual ~ISocketListenerT() = default;
};

template <typename Sender>
class IComplexSocketListenerT : public ISocketListenerT<Sender> {
 public:
  // Once at the end of Stop, after every connection has closed and the workers have ended.
  virtual EventResult OnShutdown(Sender* sender) = 0;
};

template <typename Sender>
class IServerListenerT : public IComplexSocketListenerT<Sender> {
 public:
  // During Start, after bind and before listen; Error fails the start.
  virtual EventResult OnPrepareListen(Sender* sender, platform::SocketHandle listenSocket) = 0;
  // For each accepted connection, before any receive; Error refuses it without OnClose.
  virtual EventResult OnAccept(Sender* sender, uint32_t connectionId, platform::SocketHandle socket) = 0;
};

class ITcpServerListener : public IServerListenerT<ITcpServer> {};

}  // namespace qolv::net

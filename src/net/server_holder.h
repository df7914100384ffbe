#pragma once
// How an application owns a server: a holder creates it through a factory with the listener
// and releases it through the same factory. A pull server is handed out as one object seen
// through both of its interfaces.
#include <type_traits>

#include "net/listener_interfaces.h"
#include "net/pull_socket.h"
#include "net/server_interfaces.h"

namespace qolv::net {

// One object with two interfaces. Second is a virtual base: the concrete server also reaches
// it through its engine base class, which must derive from it virtually as well, so the object
// holds it once. For example: class CTcpServer : public virtual ITcpServer, and
// CTcpPullServerT<CTcpServer> : public DualInterface<IPullSocket, ITcpServer>, public CTcpServer.
template <typename First, typename Second>
class DualInterface : public First, public virtual Second {
 public:
  static_assert(std::has_virtual_destructor_v<First>, "the object is released through First");
};

// The pull interface of the server an event names (a cross-cast within the object); null when
// the server is not a pull server.
inline IPullSocket* PullSocketOf(ITcpServer* server) { return dynamic_cast<IPullSocket*>(server); }

// Owns one server made by Creator::Create(Listener*) and released by Creator::Release(Exposed*).
template <typename Exposed, typename Listener, typename Creator>
class ServerHolder {
 public:
  explicit ServerHolder(Listener* listener) : server_(Creator::Create(listener)) {}
  ~ServerHolder() { Creator::Release(server_); }
  ServerHolder(const ServerHolder&) = delete;
  ServerHolder& operator=(const ServerHolder&) = delete;

  Exposed* Get() const { return server_; }
  Exposed* operator->() const { return server_; }

 private:
  Exposed* server_;
};

using TcpPullServer = DualInterface<IPullSocket, ITcpServer>;

// Makes and releases the pull server (CTcpPullServerT<CTcpServer>); defined with it.
struct TcpPullServer_Creator {
  static TcpPullServer* Create(ITcpServerListener* listener);
  // Nothing for null; otherwise the server's virtual destructor, which stops it first.
  static void Release(TcpPullServer* server);
};

using TcpPullServerHolder = ServerHolder<TcpPullServer, ITcpServerListener, TcpPullServer_Creator>;

}  // namespace qolv::net

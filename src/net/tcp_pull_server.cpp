#include "net/tcp_pull_server.h"

namespace qolv::net {

TcpPullServer* TcpPullServer_Creator::Create(ITcpServerListener* listener) {
  return new CTcpPullServerT<CTcpServer>(listener);
}

void TcpPullServer_Creator::Release(TcpPullServer* server) { delete server; }

}  // namespace qolv::net

#pragma once
// Listener base classes with the default event results; an application derives from the one
// of its model and implements the remaining events.
#include "net/listener_interfaces.h"

namespace qolv::net {

class CTcpServerListener : public ITcpServerListener {
 public:
  EventResult OnReady(ITcpServer*, uint32_t) override { return EventResult::Ignore; }
  EventResult OnSent(ITcpServer*, uint32_t, const uint8_t*, int32_t) override { return EventResult::Ok; }
};

class CTcpPullServerListener : public CTcpServerListener {
 public:
  using CTcpServerListener::OnReceive;
  // A pull server never delivers bytes in the event itself.
  EventResult OnReceive(ITcpServer*, uint32_t, const uint8_t*, int32_t) override {
    return EventResult::Ignore;
  }
};

}  // namespace qolv::net

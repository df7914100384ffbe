#pragma once
// The OS side of CompletionPort::Open; completion_port.cpp keeps the port's state.

namespace qolv::platform::detail {

// A new port's state (what CompletionPort::impl() returns); null with the system error set when
// it could not be made.
void* CreatePortState();

}  // namespace qolv::platform::detail

#pragma once
// The state of the installed service "QolvTovuPP" as the Windows service manager reports it.
#include <cstdint>

namespace qolv::test {

// The current state (platform::kServiceStopped ...), or 0 when it cannot be read (for example
// when the service is not installed).
uint32_t ServiceState();

// Polls every 100 ms, for up to a minute, until the service is in that state.
bool WaitForServiceState(uint32_t wanted);

}  // namespace qolv::test

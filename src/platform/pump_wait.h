#pragma once
#include <cstdint>

namespace qolv::platform {

// Waits milliseconds while keeping the calling thread's window messages flowing, for threads
// that poll between the steps of a long operation. On Windows every message that arrives is
// dispatched and the wait goes on for the rest of the time; where there are no window messages
// it is a plain sleep. 0 only yields the processor. Always true; after a wait of at least one
// millisecond the system error is 1460 (the time ran out).
bool PumpWait(uint32_t milliseconds);

}  // namespace qolv::platform

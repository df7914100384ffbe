#include "platform/clock.h"

#include "platform/clock_detail.h"

namespace qolv::platform {

// Alone in its file: a test program links a replacement that it can drive.
uint32_t TickCount() { return detail::SystemTickCount(); }

}  // namespace qolv::platform

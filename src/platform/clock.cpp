#include "platform/clock.h"

#include <atomic>

#include "platform/clock_detail.h"

namespace qolv::platform {
namespace {
std::atomic<TickSource> g_tickSource{nullptr};
}  // namespace

void SetTickSource(TickSource source) { g_tickSource.store(source, std::memory_order_release); }

uint32_t TickCount() {
  if (TickSource source = g_tickSource.load(std::memory_order_acquire)) return source();
  return detail::SystemTickCount();
}

}  // namespace qolv::platform

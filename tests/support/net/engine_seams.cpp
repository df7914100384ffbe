// The wrappers behind EngineSeams. Each __wrap_X receives the engine's calls of X (a mangled C++
// name; members take the object as their first argument) and __real_X is the function itself.
// The names are the same for the Linux and the mingw build, and every one of them is listed in
// qolv_link_engine_seams (tests/CMakeLists.txt).
#include "engine_seams.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "net/connection_table.h"
#include "net/fatal_error.h"
#include "net/heap_arena.h"
#include "net/manual_reset_event.h"
#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::net::testing {
namespace {

using platform::Completion;
using platform::CompletionPort;

// While an EngineSeams object lives, waits take the real port in slices this long, so that
// completions handed back by ReleaseWithheld reach a worker that waits without a limit.
constexpr uint32_t kSliceMs = 10;

struct SeamState {
  std::mutex lock;
  std::function<bool(const Completion&)> withhold;
  std::vector<std::pair<CompletionPort*, Completion>> withheld;
  std::vector<std::pair<CompletionPort*, Completion>> released;
  std::function<void()> onAccept;
  std::function<void()> onStopEventReset;
  std::atomic<bool> portArmed{false};
  std::atomic<bool> hooksArmed{false};
  std::atomic<bool> refuseHeapResets{false};
  std::atomic<int> abandonedHeaps{0};
  int abandonedBase = 0;
};

SeamState& State() {
  static SeamState state;
  return state;
}

// A completion handed back for this port, if there is one.
bool TakeReleased(SeamState& state, CompletionPort* port, Completion& completion) {
  std::lock_guard<std::mutex> guard(state.lock);
  for (auto it = state.released.begin(); it != state.released.end(); ++it) {
    if (it->first != port) continue;
    completion = it->second;
    state.released.erase(it);
    return true;
  }
  return false;
}

// Takes the armed hook, so that it runs once.
std::function<void()> TakeHook(std::function<void()> SeamState::*hook) {
  SeamState& state = State();
  if (!state.hooksArmed.load(std::memory_order_acquire)) return {};
  std::lock_guard<std::mutex> guard(state.lock);
  return std::exchange(state.*hook, {});
}

}  // namespace
}  // namespace qolv::net::testing

using qolv::net::CHeapArena;
using qolv::net::CManualResetEvent;
using qolv::net::ConnectionTable;
using qolv::platform::Completion;
using qolv::platform::CompletionPort;
using qolv::net::testing::State;

extern "C" {

// bool CompletionPort::Wait(Completion&, uint32_t)
bool __real__ZN4qolv8platform14CompletionPort4WaitERNS0_10CompletionEj(CompletionPort* port, Completion* completion,
                                                                      uint32_t timeoutMs);
bool __wrap__ZN4qolv8platform14CompletionPort4WaitERNS0_10CompletionEj(CompletionPort* port, Completion* completion,
                                                                      uint32_t timeoutMs) {
  auto& state = State();
  if (!state.portArmed.load(std::memory_order_acquire)) {
    return __real__ZN4qolv8platform14CompletionPort4WaitERNS0_10CompletionEj(port, completion, timeoutMs);
  }
  const uint32_t start = qolv::platform::TickCount();
  for (;;) {
    if (TakeReleased(state, port, *completion)) return true;
    uint32_t slice = qolv::net::testing::kSliceMs;
    if (timeoutMs != qolv::platform::kInfinite) {
      const uint32_t waited = qolv::platform::TickCount() - start;
      if (waited >= timeoutMs) {
        qolv::platform::SetSystemError(qolv::err::kWaitTimeout);
        return false;
      }
      slice = std::min(slice, timeoutMs - waited);
    }
    if (!__real__ZN4qolv8platform14CompletionPort4WaitERNS0_10CompletionEj(port, completion, slice)) {
      if (qolv::platform::GetSystemError() != qolv::err::kWaitTimeout) return false;
      continue;
    }
    std::function<bool(const Completion&)> withhold;
    {
      std::lock_guard<std::mutex> guard(state.lock);
      withhold = state.withhold;
    }
    if (!withhold || !withhold(*completion)) return true;
    std::lock_guard<std::mutex> guard(state.lock);
    state.withheld.emplace_back(port, *completion);
  }
}

// bool CompletionPort::WaitMany(Completion*, uint32_t, uint32_t&, uint32_t): the engine's workers
// wait here. While the seams are armed each wait takes one completion through the Wait seam
// above, so every completion passes the withholding rule.
bool __real__ZN4qolv8platform14CompletionPort8WaitManyEPNS0_10CompletionEjRjj(CompletionPort* port,
                                                                           Completion* completions,
                                                                           uint32_t capacity, uint32_t* count,
                                                                           uint32_t timeoutMs);
bool __wrap__ZN4qolv8platform14CompletionPort8WaitManyEPNS0_10CompletionEjRjj(CompletionPort* port,
                                                                           Completion* completions,
                                                                           uint32_t capacity, uint32_t* count,
                                                                           uint32_t timeoutMs) {
  if (!State().portArmed.load(std::memory_order_acquire) || capacity == 0) {
    return __real__ZN4qolv8platform14CompletionPort8WaitManyEPNS0_10CompletionEjRjj(port, completions, capacity,
                                                                                   count, timeoutMs);
  }
  *count = 0;
  if (!__wrap__ZN4qolv8platform14CompletionPort4WaitERNS0_10CompletionEj(port, completions, timeoutMs)) return false;
  *count = 1;
  return true;
}

// bool ConnectionTable::Reserve(uint32_t&)
bool __real__ZN4qolv3net15ConnectionTable7ReserveERj(ConnectionTable* table, uint32_t* id);
bool __wrap__ZN4qolv3net15ConnectionTable7ReserveERj(ConnectionTable* table, uint32_t* id) {
  if (auto hook = qolv::net::testing::TakeHook(&qolv::net::testing::SeamState::onAccept)) hook();
  return __real__ZN4qolv3net15ConnectionTable7ReserveERj(table, id);
}

// void CManualResetEvent::Reset()
void __real__ZN4qolv3net17CManualResetEvent5ResetEv(CManualResetEvent* event);
void __wrap__ZN4qolv3net17CManualResetEvent5ResetEv(CManualResetEvent* event) {
  if (auto hook = qolv::net::testing::TakeHook(&qolv::net::testing::SeamState::onStopEventReset)) hook();
  __real__ZN4qolv3net17CManualResetEvent5ResetEv(event);
}

// void CHeapArena::Reset()
void __real__ZN4qolv3net10CHeapArena5ResetEv(CHeapArena* arena);
void __wrap__ZN4qolv3net10CHeapArena5ResetEv(CHeapArena* arena) {
  if (State().refuseHeapResets.load(std::memory_order_acquire)) {
    throw qolv::net::FatalError("a private heap cannot be created");
  }
  __real__ZN4qolv3net10CHeapArena5ResetEv(arena);
}

// void CHeapArena::Abandon()
void __real__ZN4qolv3net10CHeapArena7AbandonEv(CHeapArena* arena);
void __wrap__ZN4qolv3net10CHeapArena7AbandonEv(CHeapArena* arena) {
  State().abandonedHeaps.fetch_add(1, std::memory_order_acq_rel);
  __real__ZN4qolv3net10CHeapArena7AbandonEv(arena);
}

}  // extern "C"

namespace qolv::net::testing {

// Waits already under way when the object is made wait on unseen; so a test makes it before Start.
EngineSeams::EngineSeams() {
  State().abandonedBase = State().abandonedHeaps.load();
  State().portArmed.store(true, std::memory_order_release);
}

EngineSeams::~EngineSeams() {
  SeamState& state = State();
  state.portArmed.store(false, std::memory_order_release);
  state.hooksArmed.store(false, std::memory_order_release);
  state.refuseHeapResets.store(false, std::memory_order_release);
  std::lock_guard<std::mutex> guard(state.lock);
  state.withhold = nullptr;
  state.withheld.clear();
  state.released.clear();
  state.onAccept = nullptr;
  state.onStopEventReset = nullptr;
}

void EngineSeams::Withhold(std::function<bool(const Completion&)> withhold) {
  SeamState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.withhold = std::move(withhold);
  }
}

void EngineSeams::ReleaseWithheld() {
  SeamState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.withhold = nullptr;
  state.released.insert(state.released.end(), state.withheld.begin(), state.withheld.end());
  state.withheld.clear();
}

int EngineSeams::WithheldCount() const {
  SeamState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  return static_cast<int>(state.withheld.size());
}

void EngineSeams::OnNextAccept(std::function<void()> hook) {
  SeamState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.onAccept = std::move(hook);
  }
  state.hooksArmed.store(true, std::memory_order_release);
}

void EngineSeams::OnStopEventReset(std::function<void()> hook) {
  SeamState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.onStopEventReset = std::move(hook);
  }
  state.hooksArmed.store(true, std::memory_order_release);
}

int EngineSeams::AbandonedHeaps() const { return State().abandonedHeaps.load() - State().abandonedBase; }

void EngineSeams::RefuseHeapResets() { State().refuseHeapResets.store(true, std::memory_order_release); }

}  // namespace qolv::net::testing

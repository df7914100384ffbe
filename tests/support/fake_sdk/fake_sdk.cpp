// The fake device SDK: behaviour chosen by the param text, usage recorded in counters.
#include "fake_sdk.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_set>

namespace {

// Long enough to outlast the service's bounded wait for its task workers at a stop.
constexpr long kMaxDelayMs = 120000;
constexpr auto kMaxGatherWait = std::chrono::seconds(10);

// Read at run time, so the compiler cannot see that the store faults.
volatile uintptr_t g_invalidAddress = 0x10;

// Calls that wait for each other: when the last of a group arrives, the generation moves on
// and the whole group continues.
struct Gather {
  long arrived = 0;
  long generation = 0;
};

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  FakeSdkCounters counters{};
  std::unordered_set<char*> handedOut;
  std::map<long, Gather> gathers;
};

State& Shared() {
  static State state;
  return state;
}

// Reads "<word>=<digits>;" at the front of text; on success drops it and returns the number.
bool TakePrefix(std::string_view& text, std::string_view word, long& number) {
  if (text.substr(0, word.size()) != word) return false;
  size_t i = word.size();
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= 1000000) {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (i == word.size() || i >= text.size() || text[i] != ';') return false;
  text.remove_prefix(i + 1);
  number = value;
  return true;
}

void WaitForGroup(State& state, long size) {
  std::unique_lock lock(state.mutex);
  Gather& group = state.gathers[size];
  if (++group.arrived >= size) {
    group.arrived = 0;
    ++group.generation;
    state.changed.notify_all();
    return;
  }
  const long mine = group.generation;
  if (!state.changed.wait_for(lock, kMaxGatherWait, [&] { return group.generation != mine; })) {
    --group.arrived;  // gave up; the group no longer counts this call
  }
}

char* HandOut(State& state, std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  std::lock_guard lock(state.mutex);
  state.handedOut.insert(copy);
  ++state.counters.outstanding;
  return copy;
}

bool Answer(State& state, const char* apiName, std::string_view param, char** response) {
  std::string_view action = param;
  long number = 0;
  for (bool more = true; more;) {
    more = false;
    if (TakePrefix(action, "delay=", number)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(number, kMaxDelayMs)));
      more = true;
    } else if (TakePrefix(action, "gather=", number)) {
      if (number > 1) WaitForGroup(state, number);
      more = true;
    }
  }
  if (action == "refuse") return false;
  if (action == "crash") *reinterpret_cast<volatile int*>(g_invalidAddress) = 1;
  if (action == "null") return true;
  if (action == "empty") {
    *response = HandOut(state, "");
  } else if (action.substr(0, 5) == "text=") {
    *response = HandOut(state, action.substr(5));
  } else {
    std::string echo(apiName);
    echo += '|';
    echo += param;
    *response = HandOut(state, echo);
  }
  return true;
}

}  // namespace

extern "C" {

void InitQolvTovuSDK(void) {
  std::lock_guard lock(Shared().mutex);
  ++Shared().counters.initCalls;
}

void UninitQolvTovuSDK(void) {
  std::lock_guard lock(Shared().mutex);
  ++Shared().counters.uninitCalls;
}

bool InvokeQueryMethod(const char* apiName, const char* param, char** response) {
  State& state = Shared();
  {
    std::lock_guard lock(state.mutex);
    ++state.counters.calls;
    ++state.counters.inFlight;
    state.counters.maxInFlight = std::max(state.counters.maxInFlight, state.counters.inFlight);
  }
  bool accepted = false;
  if (apiName != nullptr && response != nullptr) {
    *response = nullptr;
    accepted = Answer(state, apiName, param != nullptr ? param : "", response);
  }
  std::lock_guard lock(state.mutex);
  --state.counters.inFlight;
  if (!accepted) ++state.counters.refused;
  return accepted;
}

void FreeQueryResponse(char* response) {
  State& state = Shared();
  std::lock_guard lock(state.mutex);
  ++state.counters.frees;
  // Only pointers this library handed out are freed; anything else is counted, not touched.
  if (state.handedOut.erase(response) == 0) {
    ++state.counters.strayFrees;
    return;
  }
  --state.counters.outstanding;
  std::free(response);
}

void FakeSdkReadCounters(FakeSdkCounters* counters) {
  std::lock_guard lock(Shared().mutex);
  *counters = Shared().counters;
}

void FakeSdkResetCounters(void) {
  State& state = Shared();
  std::lock_guard lock(state.mutex);
  for (char* response : state.handedOut) std::free(response);
  state.handedOut.clear();
  const int64_t inFlight = state.counters.inFlight;
  state.counters = FakeSdkCounters{};
  state.counters.inFlight = inFlight;
  state.counters.maxInFlight = inFlight;
}

}  // extern "C"

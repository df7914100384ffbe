#pragma once
// Link-time seams around a few calls the engine makes, for tests of its stop: a completion port
// that withholds completions, a hook inside an accept after its running test, a hook where Start
// resets the stop event, and the engine's heaps (abandoned ones counted, a re-creation refused).
//
// The linker sends the engine's calls here (--wrap, see qolv_link_engine_seams in
// tests/CMakeLists.txt); the shipped executable has none of it. With nothing armed every call
// goes straight through. A test makes an EngineSeams object before it starts the server, arms
// what it needs on it, and the object disarms all of it again when it goes.
#include <cstdint>
#include <functional>

#include "platform/completion_port.h"

namespace qolv::net::testing {

class EngineSeams {
 public:
  EngineSeams();
  ~EngineSeams();
  EngineSeams(const EngineSeams&) = delete;
  EngineSeams& operator=(const EngineSeams&) = delete;

  // From now on a completion for which withhold answers true is kept back instead of being
  // handed to a worker: a port that lost it. withhold runs on the worker that took it.
  void Withhold(std::function<bool(const platform::Completion&)> withhold);
  // Hands the completions kept back so far to the workers, and keeps back no more.
  void ReleaseWithheld();
  int WithheldCount() const;

  // Runs once, on the worker, in the next accept that finds the server running, before the
  // accepted socket gets its connection id.
  void OnNextAccept(std::function<void()> hook);
  // Runs once, on the starting thread, when Start next resets the stop event.
  void OnStopEventReset(std::function<void()> hook);

  // Heaps the engine left to unfinished operations since this object was made.
  int AbandonedHeaps() const;
  // Every later attempt to release and re-create an engine heap fails as a system out of heaps
  // would: the arena throws.
  void RefuseHeapResets();
};

}  // namespace qolv::net::testing

#pragma once
// Holding the other threads of a crashing process still while its dump is written, and reading
// their registers. A process cannot ptrace its own threads, so each thread is asked with a
// real-time signal: its handler hands over the registers the signal interrupted and then waits
// in the handler until the dump is done. Async-signal-safe throughout.
#include <ucontext.h>

#include <cstdint>

namespace qolv::platform::posix {

class ThreadParking {
 public:
  // Takes the request signal for itself. False (and the other calls do nothing) when the
  // process already uses that signal for something else.
  bool Begin();

  // Asks one thread to park and returns its registers, valid until ReleaseAll; null when the
  // thread did not answer within waitMs (it blocks the signal, or is stuck in the kernel).
  const ucontext_t* Park(uint32_t threadId, uint32_t waitMs);

  // Lets every parked thread go on. The handler stays in place, so a request delivered late
  // finds nothing to do instead of meeting the signal's default action (the end of the process).
  void ReleaseAll();

 private:
  bool active_ = false;
};

}  // namespace qolv::platform::posix

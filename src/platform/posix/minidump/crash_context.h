#pragma once
#include <signal.h>
#include <ucontext.h>

#include <cstdint>

#include "platform/crash_handler.h"

namespace qolv::platform {

// What the Linux crash handler passes to the filter: the signal as the kernel delivered it.
struct CrashContext {
  int signal;
  const siginfo_t* info;
  const ucontext_t* registers;  // the crashing thread's registers when the signal came
  uint32_t threadId;
};

}  // namespace qolv::platform

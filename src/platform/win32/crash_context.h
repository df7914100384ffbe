#pragma once
#include <windows.h>

#include "platform/crash_handler.h"

namespace qolv::platform {

// What the Windows unhandled-exception filter passes on: the exception pointers it was given.
struct CrashContext {
  EXCEPTION_POINTERS* pointers;
};

}  // namespace qolv::platform

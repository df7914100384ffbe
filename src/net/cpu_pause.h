#pragma once

namespace qolv::net {

// Tells the processor that the thread is spinning, so a sibling hardware thread gets the core
// and leaving the loop costs no pipeline flush.
inline void CpuPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace qolv::net

#include "net/heap_arena.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace qolv::net {
namespace {

TEST(HeapArena, ResetDropsEverythingAndKeepsTheLimit) {
  CHeapArena arena(128 * 1024);
  void* before = arena.Allocate(1000);
  std::memset(before, 1, 1000);
  arena.Reset();
  // A fresh heap with the same limit: the full limit is usable again, and no more.
  int allocated = 0;
  try {
    for (; allocated < 1000; ++allocated) arena.Allocate(1000);
  } catch (const std::bad_alloc&) {
  }
  EXPECT_GT(allocated, 50);
  EXPECT_LT(allocated, 1000);
  arena.Reset();
  void* after = arena.Allocate(64);
  std::memset(after, 2, 64);
  arena.Free(after);
}

}  // namespace
}  // namespace qolv::net

// The Linux private heap: size-class free lists over large chunks taken from the system
// allocator. Small blocks are carved from the current chunk and, once freed, wait on the free
// list of their class; large blocks get an allocation of their own on a list of the heap.
// Destroying the heap hands every chunk and large block back to the system at once.
#include "platform/private_heap.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// Freed blocks are poisoned, so the address sanitizer reports a pool that touches them.
#define QOLV_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define QOLV_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define QOLV_POISON(address, size) ((void)(address), (void)(size))
#define QOLV_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace qolv::platform {
namespace {

constexpr size_t kAlignment = 16;
constexpr size_t kChunkSize = size_t{1} << 20;
// Blocks larger than this (header included) get their own system allocation, so a chunk
// wastes at most this much at its end.
constexpr size_t kLargestSmall = size_t{64} << 10;
// Classes: multiples of 16 up to 128 bytes, then four steps per power of two up to kLargestSmall,
// so a block never wastes more than a quarter of its size.
constexpr uint32_t kLinearClasses = 8;
constexpr uint32_t kClassCount = kLinearClasses + 4 * (16 - 7);
constexpr uint32_t kLargeClass = 0xFFFFFFFFu;

// Sits directly before every block; a free block links to the next free one through it.
struct alignas(kAlignment) BlockHeader {
  uint32_t sizeClass;
  BlockHeader* nextFree;
};
static_assert(sizeof(BlockHeader) == kAlignment);

struct alignas(kAlignment) ChunkHeader {
  ChunkHeader* next;
  size_t bytes;
};

struct alignas(kAlignment) LargeNode {
  LargeNode* prev;
  LargeNode* next;
  size_t bytes;
};

constexpr size_t RoundUp(size_t value) { return (value + kAlignment - 1) & ~(kAlignment - 1); }

constexpr size_t ClassSize(uint32_t sizeClass) {
  if (sizeClass < kLinearClasses) return (sizeClass + 1) * kAlignment;
  const uint32_t step = sizeClass - kLinearClasses;
  const uint32_t power = 7 + step / 4;
  return (size_t{1} << power) + (step % 4 + 1) * (size_t{1} << (power - 2));
}

// The smallest class whose size holds total bytes; total is at most kLargestSmall.
constexpr uint32_t ClassOf(size_t total) {
  if (total <= kLinearClasses * kAlignment)
    return static_cast<uint32_t>((total + kAlignment - 1) / kAlignment) - 1;
  const uint32_t power = static_cast<uint32_t>(std::bit_width(total - 1)) - 1;
  const size_t step = (total - (size_t{1} << power) - 1) >> (power - 2);
  return kLinearClasses + (power - 7) * 4 + static_cast<uint32_t>(step);
}

static_assert(ClassSize(ClassOf(kLargestSmall)) == kLargestSmall);
static_assert(ClassOf(kLargestSmall) == kClassCount - 1);
static_assert(ClassSize(ClassOf(129)) == 160 && ClassSize(ClassOf(161)) == 192 &&
              ClassSize(ClassOf(257)) == 320);

}  // namespace

struct PrivateHeapState {
  std::mutex lock;
  size_t maximum = 0;  // 0: no limit
  size_t taken = 0;    // bytes held from the system
  ChunkHeader* chunks = nullptr;
  char* carve = nullptr;
  char* carveEnd = nullptr;
  BlockHeader* freeLists[kClassCount] = {};
  LargeNode* large = nullptr;

  // Takes bytes from the system within the heap's limit.
  void* Take(size_t bytes) {
    if (maximum != 0 && bytes > maximum - taken) throw std::bad_alloc();
    void* memory = std::malloc(bytes);
    if (memory == nullptr) throw std::bad_alloc();
    taken += bytes;
    return memory;
  }

  BlockHeader* CarveSmall(size_t size) {
    if (static_cast<size_t>(carveEnd - carve) < size) {
      size_t bytes = kChunkSize;
      if (maximum != 0 && maximum - taken < bytes) bytes = maximum - taken;
      if (bytes < sizeof(ChunkHeader) + size) throw std::bad_alloc();
      auto* chunk = static_cast<ChunkHeader*>(Take(bytes));
      chunk->next = chunks;
      chunk->bytes = bytes;
      chunks = chunk;
      carve = reinterpret_cast<char*>(chunk + 1);
      carveEnd = reinterpret_cast<char*>(chunk) + bytes;
    }
    auto* header = reinterpret_cast<BlockHeader*>(carve);
    carve += size;
    return header;
  }

  void* AllocateLarge(size_t total) {
    const size_t bytes = sizeof(LargeNode) + total;
    auto* node = static_cast<LargeNode*>(Take(bytes));
    node->prev = nullptr;
    node->next = large;
    node->bytes = bytes;
    if (large != nullptr) large->prev = node;
    large = node;
    auto* header = reinterpret_cast<BlockHeader*>(node + 1);
    header->sizeClass = kLargeClass;
    return header + 1;
  }

  void FreeLarge(BlockHeader* header) {
    LargeNode* node = reinterpret_cast<LargeNode*>(header) - 1;
    if (node->prev != nullptr) node->prev->next = node->next;
    if (node->next != nullptr) node->next->prev = node->prev;
    if (large == node) large = node->next;
    taken -= node->bytes;
    std::free(node);
  }

  void ReleaseAll() {
    for (ChunkHeader* chunk = chunks; chunk != nullptr;) {
      ChunkHeader* next = chunk->next;
      QOLV_UNPOISON(chunk, chunk->bytes);
      std::free(chunk);
      chunk = next;
    }
    for (LargeNode* node = large; node != nullptr;) {
      LargeNode* next = node->next;
      std::free(node);
      node = next;
    }
  }
};

PrivateHeap CreatePrivateHeap(size_t maximumSize) {
  auto* heap = new PrivateHeapState;
  heap->maximum = maximumSize;
  return heap;
}

void* AllocateFromHeap(PrivateHeap heap, size_t size) {
  const size_t total = RoundUp(size) + sizeof(BlockHeader);
  if (total < size) throw std::bad_alloc();  // the request wrapped around
  std::lock_guard<std::mutex> guard(heap->lock);
  if (total > kLargestSmall) return heap->AllocateLarge(total);
  const uint32_t sizeClass = ClassOf(total);
  BlockHeader* header = heap->freeLists[sizeClass];
  if (header != nullptr) {
    QOLV_UNPOISON(header + 1, ClassSize(sizeClass) - sizeof(BlockHeader));
    heap->freeLists[sizeClass] = header->nextFree;
  } else {
    header = heap->CarveSmall(ClassSize(sizeClass));
  }
  header->sizeClass = sizeClass;
  return header + 1;
}

void FreeToHeap(PrivateHeap heap, void* block) {
  if (block == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  std::lock_guard<std::mutex> guard(heap->lock);
  if (header->sizeClass == kLargeClass) {
    heap->FreeLarge(header);
    return;
  }
  header->nextFree = heap->freeLists[header->sizeClass];
  heap->freeLists[header->sizeClass] = header;
  QOLV_POISON(header + 1, ClassSize(header->sizeClass) - sizeof(BlockHeader));
}

void DestroyPrivateHeap(PrivateHeap heap) {
  if (heap == nullptr) return;
  heap->ReleaseAll();
  delete heap;
}

}  // namespace qolv::platform

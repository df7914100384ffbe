// The free ring and the id table against a std::mutex around a standard container doing the
// same work, with one and two threads. Run the release build for figures:
//   build/release/bin/net_containers_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "net/free_ring.h"
#include "net/id_slot_table.h"

namespace qolv::net {
namespace {

struct Item {
  uint64_t payload = 0;
};

constexpr uint32_t kRingSize = 1024;
constexpr uint32_t kTableSize = 10000;

// Every thread pushes an object of its own and pops one back, as a pool recycles a block and
// obtains one again.
void FreeRingPushPop(benchmark::State& state) {
  static CFreeRing<Item> ring;
  if (state.thread_index() == 0) ring.Reset(kRingSize);
  Item mine;
  int64_t missed = 0;
  for (auto _ : state) {
    Item* item = &mine;
    if (!ring.TryPush(item)) state.SkipWithError("ring refused a push");
    // A pop can come up empty when a racing push left its object behind the get position.
    if (!ring.TryPop(item)) ++missed;
    benchmark::DoNotOptimize(item);
  }
  state.counters["missed"] = static_cast<double>(missed);
  state.SetItemsProcessed(state.iterations());
}

void MutexDequePushPop(benchmark::State& state) {
  static std::mutex lock;
  static std::deque<Item*> items;
  Item mine;
  for (auto _ : state) {
    Item* item = &mine;
    {
      std::lock_guard<std::mutex> guard(lock);
      items.push_back(item);
    }
    {
      std::lock_guard<std::mutex> guard(lock);
      item = items.front();
      items.pop_front();
    }
    benchmark::DoNotOptimize(item);
  }
  state.SetItemsProcessed(state.iterations());
}

// The accept-to-close path of one connection id: reserve a slot, publish the object, remove it.
void IdSlotTableReserveRemove(benchmark::State& state) {
  static CIdSlotTable<Item> table;
  if (state.thread_index() == 0) table.Reset(kTableSize);
  Item mine;
  for (auto _ : state) {
    uint32_t id = 0;
    if (!table.Reserve(CIdSlotTable<Item>::Marker(), id)) state.SkipWithError("table full");
    table.Set(id, &mine);
    table.Set(id, nullptr);
    benchmark::DoNotOptimize(id);
  }
  state.SetItemsProcessed(state.iterations());
}

void MutexMapReserveRemove(benchmark::State& state) {
  static std::mutex lock;
  static std::unordered_map<uint32_t, Item*> live;
  static uint32_t nextId = 0;
  if (state.thread_index() == 0) live.reserve(kTableSize);
  Item mine;
  for (auto _ : state) {
    uint32_t id = 0;
    {
      std::lock_guard<std::mutex> guard(lock);
      id = ++nextId;
      live.emplace(id, &mine);
    }
    {
      std::lock_guard<std::mutex> guard(lock);
      live.erase(id);
    }
    benchmark::DoNotOptimize(id);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(FreeRingPushPop)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(MutexDequePushPop)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(IdSlotTableReserveRemove)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(MutexMapReserveRemove)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace qolv::net

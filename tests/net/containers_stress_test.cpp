// Many threads on one container at once. Every test is bounded twice, by a count of operations
// and by a deadline, and checks that no object is lost or handed to two threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "net/free_ring.h"
#include "net/id_slot_table.h"
#include "net/retire_queue.h"
#include "net/rw_gate.h"
#include "platform/clock.h"
#include "support/seams/platform_seams.h"

namespace qolv::net {
namespace {

constexpr int kThreads = 4;
constexpr auto kDeadline = std::chrono::seconds(20);

// Runs body(thread index, stop) on kThreads threads; stop turns true at the deadline.
void RunThreads(const std::function<void(int, const std::atomic<bool>&)>& body) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { body(t, stop); });
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  std::thread watchdog([&] {
    while (!stop.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop = true;
  });
  for (std::thread& thread : threads) thread.join();
  stop = true;
  watchdog.join();
}

// An object that knows who holds it; taking it while someone else does is a double hand-out.
struct Token {
  std::atomic<int> holder{0};
  bool Take(int who) {
    int expected = 0;
    return holder.compare_exchange_strong(expected, who);
  }
  void Give(int who) {
    int expected = who;
    EXPECT_TRUE(holder.compare_exchange_strong(expected, 0));
  }
};

TEST(FreeRingStress, EveryObjectStaysInCirculationExactlyOnce) {
  constexpr int kObjects = 200;
  constexpr int kOperations = 150000;
  CFreeRing<Token> ring;
  ring.Reset(64);
  std::vector<Token> tokens(kObjects);
  // Each thread starts with a share of the objects the ring cannot hold.
  std::vector<std::vector<Token*>> stocks(kThreads);
  for (int i = 0; i < kObjects; ++i)
    stocks[static_cast<size_t>(i % kThreads)].push_back(&tokens[static_cast<size_t>(i)]);
  std::atomic<int> doubles{0};

  RunThreads([&](int t, const std::atomic<bool>& stop) {
    std::vector<Token*>& stock = stocks[static_cast<size_t>(t)];
    const int me = t + 1;
    for (int op = 0; op < kOperations && !stop.load(); ++op) {
      Token* token = nullptr;
      uint32_t slot = 0;
      if (op % 3 == 0 && ring.TryClaim(token, slot)) {
        if (!token->Take(me)) ++doubles;
        token->Give(me);
        // Every other claim gives the object back to its slot, to come round a lap later.
        if (op % 2 == 0) {
          ring.WriteBack(slot, token);
          continue;
        }
        ring.EmptyClaimed(slot);
        stock.push_back(token);
      } else if (ring.TryPop(token)) {
        if (!token->Take(me)) ++doubles;
        token->Give(me);
        stock.push_back(token);
      }
      if (!stock.empty() && ring.TryPush(stock.back())) stock.pop_back();
    }
  });

  EXPECT_EQ(doubles.load(), 0);
  std::vector<int> seen(kObjects, 0);
  auto count = [&](Token* token) { ++seen[static_cast<size_t>(token - tokens.data())]; };
  for (auto& stock : stocks) {
    for (Token* token : stock) count(token);
  }
  ring.Drain(count);
  for (int i = 0; i < kObjects; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)], 1) << "object " << i;
}

std::atomic<uint32_t> g_tick{1000};
uint32_t StressTick() { return g_tick.load(); }

struct Retired {
  uint32_t freeTime = 0;
  std::atomic<int> destroyed{0};
  std::atomic<bool> early{false};
};

constexpr uint32_t kRest = 1000;
std::atomic<bool> g_forcing{false};

struct RetiredTraits {
  static uint32_t FreeTime(const Retired* item) { return item->freeTime; }
  static void Destroy(Retired* item) {
    if (!g_forcing.load() && StressTick() - item->freeTime < kRest) item->early = true;
    ++item->destroyed;
  }
};

TEST(RetireQueueStress, PushersAndReclaimersDestroyEachObjectOnceAndNotTooEarly) {
  constexpr int kPerPusher = 20000;
  platform::SetTickSource(&StressTick);
  g_tick = 1000;
  g_forcing = false;
  CRetireQueue<Retired, RetiredTraits> queue;
  std::vector<Retired> items(static_cast<size_t>(kPerPusher * 2));
  std::atomic<int> pushed{0};

  RunThreads([&](int t, const std::atomic<bool>& stop) {
    if (t < 2) {
      // Two pushers stamp each object with the current tick, as a release does.
      for (int i = 0; i < kPerPusher && !stop.load(); ++i) {
        Retired& item = items[static_cast<size_t>(t * kPerPusher + i)];
        item.freeTime = StressTick();
        queue.Push(&item);
        ++pushed;
      }
    } else {
      // Two reclaimers race for the drain lock; one of them also moves the clock on.
      while (!stop.load() && pushed.load() < 2 * kPerPusher) {
        if (t == 2) g_tick += 7;
        queue.Reclaim(kRest, false);
      }
    }
  });

  g_forcing = true;
  queue.Reclaim(kRest, true);
  platform::SetTickSource(nullptr);
  EXPECT_EQ(queue.Count(), 0);
  int destroyed = 0;
  for (size_t i = 0; i < static_cast<size_t>(pushed.load()); ++i) {
    ASSERT_EQ(items[i].destroyed.load(), 1) << "object " << i;
    ASSERT_FALSE(items[i].early.load()) << "object " << i;
    ++destroyed;
  }
  EXPECT_GT(destroyed, 0);
}

TEST(IdSlotTableStress, AnIdAndItsSlotBelongToOneHolderAtATime) {
  constexpr uint32_t kSlots = 16;
  constexpr int kOperations = 60000;
  CIdSlotTable<Token> table;
  table.Reset(kSlots);
  std::vector<Token> objects(kThreads);
  std::vector<Token> slotOwners(kSlots);
  std::atomic<int> failures{0};

  RunThreads([&](int t, const std::atomic<bool>& stop) {
    const int me = t + 1;
    Token* mine = &objects[static_cast<size_t>(t)];
    for (int op = 0; op < kOperations && !stop.load(); ++op) {
      uint32_t id = 0;
      // Half the time as the engine does it: reserve with the marker, then publish.
      const bool viaMarker = op % 2 == 0;
      if (!table.Reserve(viaMarker ? CIdSlotTable<Token>::Marker() : mine, id)) continue;
      Token& owner = slotOwners[(id - 1) % kSlots];
      if (!owner.Take(me)) ++failures;
      if (viaMarker && !table.Set(id, mine)) ++failures;
      if (table.Get(id) != mine) ++failures;
      if (op % 64 == 0) table.Snapshot(true);
      owner.Give(me);
      if (!table.Set(id, nullptr)) ++failures;
    }
  });

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.KeyCount(), 0u);
}

TEST(RwGateStress, WritersAreAloneAndReadersSeeWholeUpdates) {
  constexpr int kOperations = 50000;
  CRwGate gate;
  std::atomic<int> readersInside{0};
  std::atomic<int> writersInside{0};
  std::atomic<int> violations{0};
  long first = 0;
  long second = 0;

  RunThreads([&](int t, const std::atomic<bool>& stop) {
    for (int op = 0; op < kOperations && !stop.load(); ++op) {
      if (t == 0 || op % 8 == 0) {
        gate.LockExclusive();
        if (++writersInside != 1 || readersInside.load() != 0) ++violations;
        ++first;
        ++second;
        --writersInside;
        gate.Unlock();
      } else {
        gate.LockShared();
        ++readersInside;
        if (writersInside.load() != 0 || first != second) ++violations;
        --readersInside;
        gate.Unlock();
      }
    }
  });

  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(first, second);
  EXPECT_GT(first, 0);
}

}  // namespace
}  // namespace qolv::net

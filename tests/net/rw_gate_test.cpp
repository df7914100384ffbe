#include "net/rw_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "net/manual_reset_event.h"
#include "net/recursive_lock.h"
#include "net/spin_flag.h"
#include "platform/clock.h"

namespace qolv::net {
namespace {

// Polls until the condition holds; false after a generous limit, so a hang fails instead.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 20000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

TEST(SpinFlag, TryLockFailsWhileHeld) {
  CSpinFlag flag;
  ASSERT_TRUE(flag.try_lock());
  EXPECT_FALSE(flag.try_lock());
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = flag.try_lock(); }).join();
  EXPECT_FALSE(otherGotIt);
  flag.unlock();
  std::lock_guard<CSpinFlag> guard(flag);
  EXPECT_FALSE(flag.try_lock());
}

TEST(RecursiveLock, HolderReentersAndOthersWaitForTheLastUnlock) {
  CRecursiveLock lock;
  const auto otherGetsIt = [&] {
    bool got = false;
    std::thread([&] {
      got = lock.try_lock();
      if (got) lock.unlock();
    }).join();
    return got;
  };
  lock.lock();
  ASSERT_TRUE(lock.try_lock());
  lock.lock();
  EXPECT_FALSE(otherGetsIt());
  lock.unlock();
  lock.unlock();
  EXPECT_FALSE(otherGetsIt()) << "released before the last unlock";
  lock.unlock();
  EXPECT_TRUE(otherGetsIt());

  // A waiting thread gets the lock once the holder's last level is released.
  std::atomic<bool> entered{false};
  lock.lock();
  std::thread waiter([&] {
    std::lock_guard<CRecursiveLock> guard(lock);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered);
  lock.unlock();
  waiter.join();
  EXPECT_TRUE(entered);
}

TEST(ManualResetEvent, ATimedWaitEndsUnsignalledAndSetWakesEveryWaiter) {
  CManualResetEvent event(false);
  EXPECT_FALSE(event.Wait(30));
  std::atomic<int> woken{0};
  std::thread forever([&] { woken += event.Wait(platform::kInfinite) ? 1 : 0; });
  std::thread bounded([&] { woken += event.Wait(60000) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(woken, 0);
  event.Set();
  forever.join();
  bounded.join();
  EXPECT_EQ(woken, 2);
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(RwGate, WaitingWriterHoldsBackNewReadersAndThenAllReadersEnterTogether) {
  CRwGate gate;
  std::atomic<bool> writerIn{false};
  std::atomic<bool> writerMayLeave{false};
  std::atomic<int> readersIn{0};
  std::atomic<bool> readersMet{true};

  gate.LockShared();
  std::thread writer([&] {
    gate.LockExclusive();
    writerIn = true;
    Eventually([&] { return writerMayLeave.load(); });
    gate.Unlock();
  });
  ASSERT_TRUE(Eventually([&] { return gate.WaitingWriters() == 1; }));

  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      gate.LockShared();
      ++readersIn;
      // Each stays inside until the other one is in too: they must be let in together.
      if (!Eventually([&] { return readersIn.load() == 2; })) readersMet = false;
      gate.Unlock();
    });
  }
  ASSERT_TRUE(Eventually([&] { return gate.WaitingReaders() == 2; }));
  EXPECT_FALSE(writerIn.load());

  gate.Unlock();  // the first reader leaves: the gate goes to the writer, not the readers
  ASSERT_TRUE(Eventually([&] { return writerIn.load(); }));
  EXPECT_EQ(readersIn.load(), 0);
  EXPECT_EQ(gate.WaitingReaders(), 2);

  writerMayLeave = true;
  writer.join();
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(readersIn.load(), 2);
  EXPECT_TRUE(readersMet.load());

  // The gate is free again for a writer.
  gate.LockExclusive();
  gate.Unlock();
}

TEST(RwGate, WriterWaitsForAnotherWriter) {
  CRwGate gate;
  std::atomic<bool> secondIn{false};
  gate.LockExclusive();
  std::thread second([&] {
    gate.LockExclusive();
    secondIn = true;
    gate.Unlock();
  });
  ASSERT_TRUE(Eventually([&] { return gate.WaitingWriters() == 1; }));
  EXPECT_FALSE(secondIn.load());
  gate.Unlock();
  second.join();
  EXPECT_TRUE(secondIn.load());
}

}  // namespace
}  // namespace qolv::net

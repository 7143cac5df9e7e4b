#include "json/owner_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/platform.h"

TEST(OwnerLock, NestedEntriesHoldOffAnotherThreadUntilTheLastLeave) {
  OwnerLock lock;
  lock.Enter();
  lock.Enter();
  lock.Enter();
  EXPECT_EQ(lock.Owner(), sys_current_thread_id());
  EXPECT_EQ(lock.Count(), 3u);

  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    lock.Enter();
    acquired = true;
    lock.Leave();
  });

  // A Leave by a thread that does not own the lock changes nothing.
  std::thread stranger([&] { lock.Leave(); });
  stranger.join();
  EXPECT_EQ(lock.Count(), 3u);
  EXPECT_EQ(lock.Owner(), sys_current_thread_id());

  lock.Leave();
  lock.Leave();
  // Long enough for the waiter to pass its spinning phase and sleep-retry a few times.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(acquired.load());
  EXPECT_EQ(lock.Count(), 1u);

  lock.Leave();
  waiter.join();
  EXPECT_TRUE(acquired.load());
  EXPECT_EQ(lock.Count(), 0u);
  EXPECT_EQ(lock.Owner(), 0u);
}

TEST(OwnerLock, LeaveOfAFreeLockChangesNothing) {
  OwnerLock lock;
  lock.Leave();
  EXPECT_EQ(lock.Count(), 0u);
  EXPECT_EQ(lock.Owner(), 0u);
  lock.Enter();
  EXPECT_EQ(lock.Count(), 1u);
  lock.Leave();
  EXPECT_EQ(lock.Count(), 0u);
}

TEST(OwnerLock, SerialisesThreadsThatEnterRecursively) {
  OwnerLock lock;
  // A plain counter: lost updates would show if two threads were inside at once.
  uint32_t counter = 0;
  constexpr uint32_t kRounds = 20000;
  auto work = [&] {
    for (uint32_t i = 0; i < kRounds; ++i) {
      OwnerLockHolder outer(lock);
      OwnerLockHolder inner(lock);
      const uint32_t seen = counter;
      counter = seen + 1;
    }
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
  EXPECT_EQ(counter, 2 * kRounds);
  EXPECT_EQ(lock.Count(), 0u);
  EXPECT_EQ(lock.Owner(), 0u);
}

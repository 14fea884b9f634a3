// The process's writers' lock: handed on in the order asked for, taken again
// by its holder at once, and given up by a waiter when it does not change
// hands within the waiter's patience (the waiter then holds nothing).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stores/sqlite/ThreadSafety.h"

namespace {

using std::chrono::milliseconds;

// Tries the lock on another thread; gives back whether it was had (and
// releases it again if so).
int tryOnAnotherThread(pda::TimedRecursiveMutex& lock, milliseconds patience) {
  std::atomic<int> had{-1};
  std::thread other([&] {
    had = lock.tryLock(patience) ? 1 : 0;
    if (had == 1) lock.unlock();
  });
  other.join();
  return had;
}

TEST(WritersLock, AWaiterGivesUpWhileTheHolderKeepsItAndHasItOnceItIsFree) {
  pda::TimedRecursiveMutex lock;
  ASSERT_TRUE(lock.tryLock(milliseconds(10)));
  ASSERT_TRUE(lock.tryLock(milliseconds(10)));  // the holder again, at once
  EXPECT_EQ(tryOnAnotherThread(lock, milliseconds(50)), 0);
  lock.unlock();
  EXPECT_EQ(tryOnAnotherThread(lock, milliseconds(50)), 0) << "still held once";
  lock.unlock();
  EXPECT_EQ(tryOnAnotherThread(lock, milliseconds(50)), 1);
  // The waiters that gave up left the line: the lock is free for this thread.
  ASSERT_TRUE(lock.tryLock(milliseconds(10)));
  lock.unlock();
}

}  // namespace

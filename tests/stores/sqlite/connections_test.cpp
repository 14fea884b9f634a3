// The process's bookkeeping of its connections: the writers' lock, handed
// on in the order asked for, taken again by its holder at once, and given up
// by a waiter when it does not change hands within the waiter's patience (the
// waiter then holds nothing); statements prepared on a connection that has
// been closed since are never adopted; unloading the library closes every
// connection and releases SQLite.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/NodeHolder.h"
#include "pda/KestSQLite.h"
#include "platform/platform.h"
#include "stores/sqlite/Connections.h"
#include "stores/sqlite/ThreadSafety.h"
#include "support/Fixtures.h"

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

TEST(Connections, AStatementOfAnEarlierOpeningOfTheConnectionsIsNotAdopted) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  namespace sql = pda::sqlite;
  ASSERT_TRUE(sql::loadBinding((machine.baseDir() + "bin/SQLite.Interop.dll").c_str()));
  sql::File& file = sql::fileAt(db);
  ASSERT_EQ(sql::openConnection(file, true), 0);
  const unsigned opened = sql::generationOf(file);
  sql::closeAll();
  EXPECT_GT(sql::generationOf(file), opened);
  EXPECT_EQ(sql::connection(file, true), nullptr);
  EXPECT_FALSE(sql::adoptStatement(file, opened, nullptr));
}

TEST(Connections, UnloadingTheLibraryClosesEveryConnectionAndReleasesSQLite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pda::NodeHolder<KestSQLite> node(KestSQLite::CreateInstance(KestInfoBaseType));
  EXPECT_EQ(node->getValueInt32("Missing", 7), 7);  // read: SQLite loaded, a connection open
  pda::sqlite::File& file = pda::sqlite::fileAt(db);
  ASSERT_NE(pda::sqlite::connection(file, false), nullptr);
  pda::platform::runUnloadHooks();
  EXPECT_EQ(pda::sqlite::connection(file, false), nullptr);
  EXPECT_EQ(pda::sqlite::binding(), nullptr);
}

}  // namespace

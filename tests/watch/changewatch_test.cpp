// ChangeWatch on each store: a write made on another thread (through the
// library's records) or by another process wakes a waiter that shares the
// watch; reads and a rolled-back transaction do not; stop() from another
// thread ends a wait at once and every later one; the built-in defaults only
// time out. A registry watch begun before the store's key exists wakes when
// it is made; stray files there do not.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#if !defined(_WIN32)
#  include <sys/stat.h>

#  include <cstdio>
#  include <fstream>
#endif

#include "pda/ChangeWatch.h"
#include "pda/KestInfo.h"
#include "support/Fixtures.h"

namespace {

// Several seconds: a loaded machine may be slow to deliver, and the test does
// not measure speed (the waits end as soon as the change arrives).
const unsigned int kPatience = 5000;

void expectWokenByAWriteFromAnotherThread(DataSource source) {
  // The first record creates the store's keys; later reads change nothing.
  KestInfo(source).getValueInt32("IOControlHidden", 0);
  ChangeWatch watch(source);
  ASSERT_TRUE(watch.isWatching());
  // A read changes nothing.
  {
    KestInfo reader(source);
    reader.getValueInt32("IOControlHidden", 0);
  }
  EXPECT_EQ(watch.waitForChange(200), 0);

  std::atomic<int> result{-2};
  std::thread waiter([&] { result = watch.waitForChange(kPatience); });
  std::thread writer([source] {
    KestInfo record(source);
    EXPECT_EQ(record.setValueString("IOControlHidden", "True"), 1);
  });
  writer.join();
  waiter.join();
  EXPECT_EQ(result.load(), 1);

  std::thread sleeper([&] { result = watch.waitForChange(ChangeWatch::kForever); });
  watch.stop();
  sleeper.join();
  EXPECT_EQ(result.load(), -1);
  EXPECT_EQ(watch.waitForChange(kPatience), -1);
}

TEST(ChangeWatch, RegistryWritesWakeTheWatch) {
  pdatest::TempMachine machine;
  expectWokenByAWriteFromAnotherThread(RegistryDataSource);
}

TEST(ChangeWatch, SQLiteWritesWakeTheWatch) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  expectWokenByAWriteFromAnotherThread(SQLiteDataSource);
  // Another process writes the files but commits nothing: no change.
  ChangeWatch watch(SQLiteDataSource);
  pdatest::sqlite(db,
                  "BEGIN IMMEDIATE; INSERT INTO KestInfo (NAME, VALUE) VALUES ('A', 'b');"
                  " ROLLBACK;");
  EXPECT_EQ(watch.waitForChange(300), 0);
  pdatest::sqlite(db, "INSERT INTO KestInfo (NAME, VALUE) VALUES ('A', 'b');");
  EXPECT_EQ(watch.waitForChange(kPatience), 1);
}

TEST(ChangeWatch, TheBuiltInDefaultsOnlyTimeOut) {
  pdatest::TempMachine machine;  // not installed: the default store is the defaults
  ChangeWatch watch;
  EXPECT_EQ(watch.getDataSource(), DeviceIoDataSource);
  EXPECT_TRUE(watch.isWatching());
  EXPECT_EQ(watch.waitForChange(20), 0);
  watch.stop();
  EXPECT_EQ(watch.waitForChange(20), -1);
}

#if !defined(_WIN32)
// A watch begun before the machine has any registry watches the nearest
// folder that exists; files and folders that are neither keys nor values (an
// editor's backup, a folder starting with '.') do not wake it.
TEST(ChangeWatch, ARegistryKeyMadeAfterTheWatchBeganWakesItAndStrayFilesDoNot) {
  pdatest::TempMachine machine;  // no registry folder yet
  ChangeWatch watch(RegistryDataSource);
  ASSERT_TRUE(watch.isWatching());
  pdatest::regSetString("SOFTWARE\\Other", "X", "1");  // HKLM\SOFTWARE exists, the store's key not
  EXPECT_EQ(watch.waitForChange(5000), 1);
  const std::string software = machine.path("registry/HKLM/SOFTWARE/");
  ASSERT_TRUE(std::ofstream(software + "notes.txt").put('x').good());
  ASSERT_EQ(std::remove((software + "notes.txt").c_str()), 0);
  ASSERT_EQ(::mkdir((software + ".work").c_str(), 0755), 0);
  EXPECT_EQ(watch.waitForChange(300), 0);

  std::atomic<int> result{-2};
  std::thread waiter([&] { result = watch.waitForChange(5000); });
  EXPECT_EQ(KestInfo(RegistryDataSource).setValueString("IOControlHidden", "True"), 1);
  waiter.join();
  EXPECT_EQ(result.load(), 1);
}
#endif

}  // namespace

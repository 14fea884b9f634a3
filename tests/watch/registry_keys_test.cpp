// A registry watch begun before the machine has any registry, or before the
// store's key exists, watches the nearest folder that does, and wakes when
// the registry or the store's key is made below it; files and folders there
// that are neither keys nor values (an editor's backup, a folder starting
// with '.') do not wake it.

#if !defined(_WIN32)

#  include <gtest/gtest.h>
#  include <sys/stat.h>

#  include <atomic>
#  include <cstdio>
#  include <fstream>
#  include <string>
#  include <thread>

#  include "pda/ChangeWatch.h"
#  include "pda/KestInfo.h"
#  include "support/Fixtures.h"

namespace {

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

}  // namespace

#endif

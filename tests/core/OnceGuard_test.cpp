// The one-time creation of a process-wide critical section, with and without
// its named mutex, raced by many threads.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/OnceGuard.h"
#include "support/Fixtures.h"

namespace {

std::atomic<bool> g_created{false};
CRITICAL_SECTION g_section;

// Starts n threads together; each creates the section (racing the others)
// and then adds to a plain counter under it. A lost update or a section
// initialised twice (two threads holding different locks) shows as a wrong
// total, and as a data race under ThreadSanitizer.
long raceCreateAndCount(int n, int increments, const char* format) {
  long counter = 0;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&] {
      ++ready;
      while (!go.load()) std::this_thread::yield();
      pda::createCriticalSectionOnce(g_created, g_section, format);
      for (int k = 0; k < increments; ++k) {
        pda::CriticalSectionLock lock(g_section);
        long seen = counter;
        if ((k & 63) == 0) std::this_thread::yield();
        counter = seen + 1;
      }
    });
  }
  while (ready.load() < n) std::this_thread::yield();
  go = true;
  for (auto& t : threads) t.join();
  return counter;
}

TEST(OnceGuard, ConcurrentFirstUseCreatesOneSection) {
  pdatest::TempMachine machine;
  ASSERT_FALSE(g_created.load());
  EXPECT_EQ(raceCreateAndCount(8, 2000, "OnceGuardTest_Mutex_PID_%d"), 8 * 2000);
  EXPECT_TRUE(g_created.load());
}

#if !defined(_WIN32)
// The stand-in refuses named mutexes on request.
TEST(OnceGuard, WithoutTheNamedMutexTheSectionIsStillCreatedOnce) {
  pdatest::TempMachine machine;
  setenv("PDA_FAIL_CREATE_MUTEX", "1", 1);
  ASSERT_FALSE(g_created.load());
  EXPECT_EQ(raceCreateAndCount(8, 2000, "OnceGuardTest_Mutex_PID_%d"), 8 * 2000);
  EXPECT_TRUE(g_created.load());
  unsetenv("PDA_FAIL_CREATE_MUTEX");
}
#endif

TEST(OnceGuard, UnusableMutexNamesFallBackToo) {
  pdatest::TempMachine machine;
  EXPECT_EQ(raceCreateAndCount(4, 500, nullptr), 4 * 500);
  EXPECT_TRUE(g_created.load());
  // An already created section is kept, whatever name comes later.
  std::atomic<bool> second{false};
  CRITICAL_SECTION other;
  const std::string longName(300, 'n');
  pda::createCriticalSectionOnce(second, other, longName.c_str());
  ASSERT_TRUE(second.load());
  { pda::CriticalSectionLock lock(other); }
  // The library never deletes its sections; this one is the test's own.
  DeleteCriticalSection(&other);
}

}  // namespace

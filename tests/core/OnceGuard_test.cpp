// The one-time creation of a process-wide critical section, with and without
// its named mutex, raced by many threads.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/OnceGuard.h"
#include "support/Fixtures.h"

namespace {

// Starts n threads together; each creates the section (racing the others)
// and then adds to a plain counter under it. A lost update or a section
// initialised twice (two threads holding different locks) shows as a wrong
// total, and as a data race under ThreadSanitizer.
long raceCreateAndCount(int n, int increments, std::atomic<bool>& created, CRITICAL_SECTION& cs,
                        const char* format) {
  long counter = 0;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&] {
      ++ready;
      while (!go.load()) std::this_thread::yield();
      pda::createCriticalSectionOnce(created, cs, format);
      for (int k = 0; k < increments; ++k) {
        pda::CriticalSectionLock lock(cs);
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

// One section is made with the named mutex and without it: a name that is
// empty or too long, or (on the stand-in) a mutex refused on request.
TEST(OnceGuard, ConcurrentFirstUseCreatesOneSection) {
  pdatest::TempMachine machine;
  const std::string longName(300, 'n');
  const struct {
    const char* format;
    bool refuseMutex;
  } cases[] = {
    {"OnceGuardTest_Mutex_PID_%d", false},
    {nullptr, false},
    {longName.c_str(), false},
#if !defined(_WIN32)
    {"OnceGuardTest_Mutex_PID_%d", true}
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format ? c.format : "(null)").substr(0, 30) +
                 (c.refuseMutex ? ", mutex refused" : ""));
#if !defined(_WIN32)
    if (c.refuseMutex) setenv("PDA_FAIL_CREATE_MUTEX", "1", 1);
#endif
    std::atomic<bool> created{false};
    CRITICAL_SECTION section;
    EXPECT_EQ(raceCreateAndCount(8, 2000, created, section, c.format), 8 * 2000);
    EXPECT_TRUE(created.load());
    // The library never deletes its sections; these are the test's own.
    DeleteCriticalSection(&section);
  }
}

}  // namespace

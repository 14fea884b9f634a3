// Install locations: the base directory from the registry with its cached
// fallback, the data and PXI directories, and their behaviour under
// concurrent first calls. Each test runs in a fresh process, so every test
// sees the cache empty.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/Paths.h"
#include "pda/DirUtilities.h"
#include "pda/Win32.h"
#include "platform/platform.h"
#include "support/Fixtures.h"

namespace {

const char* const kKey64 = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kKey32 = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

// Runs fn on n threads released together; returns each thread's answer.
std::vector<const char*> callTogether(int n, const char* (*fn)()) {
  std::vector<const char*> results(static_cast<std::size_t>(n), nullptr);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (!go.load()) std::this_thread::yield();
      results[static_cast<std::size_t>(i)] = fn();
    });
  }
  while (ready.load() < n) std::this_thread::yield();
  go = true;
  for (auto& t : threads) t.join();
  return results;
}

// ---------------------------------------------------------------- base directory

// The fallback "." is cached.
TEST(BaseDir, FallbackIsCachedAndNeverReread) {
  pdatest::TempMachine machine;
  const char* first = DirUtilities::getBaseDir();
  EXPECT_STREQ(first, ".");
  pdatest::regSetString(kKey64, "BaseDir", machine.baseDir());
  EXPECT_EQ(DirUtilities::getBaseDir(), first);
}

// What the lookup answers for each content of the registry: the value of
// this machine's view, or "." when there is none or it does not fit the
// 1024-byte buffer with its terminator. Each case is a test of its own (and so
// a process of its own), since the answer is cached.
struct BaseDirCase {
  const char* label;
  std::string key64, key32, raw, expected;
  bool x86;
};
void PrintTo(const BaseDirCase& c, std::ostream* os) {
  *os << c.label;
}

class BaseDirLookup : public ::testing::TestWithParam<BaseDirCase> {};

TEST_P(BaseDirLookup, AnswersItsViewsValueOrTheFallback) {
  pdatest::TempMachine machine;
  const BaseDirCase& c = GetParam();
#if !defined(_WIN32)
  // The stand-in plays a 32-bit Windows on request.
  if (c.x86) setenv("PDA_EMULATE_32BIT", "1", 1);
#endif
  if (!c.key64.empty()) pdatest::regSetString(kKey64, "BaseDir", c.key64);
  if (!c.key32.empty()) pdatest::regSetString(kKey32, "BaseDir", c.key32);
  if (!c.raw.empty()) pdatest::regSetRaw(kKey64, "BaseDir", REG_BINARY, c.raw);
  EXPECT_EQ(std::string(DirUtilities::getBaseDir()), c.expected);
}

std::vector<BaseDirCase> baseDirCases() {
  const std::string longest = "/" + std::string(1022, 'd');  // 1023 characters + terminator
  std::vector<BaseDirCase> cases = {
      {"Wow6432NodeOn64Bit", "/opt/quillon64/", "/opt/quillon32/", "", "/opt/quillon64/", false},
      {"LongestThatFits", longest, "", "", longest, false},
      {"TooLong", longest + "d", "", "", ".", false},  // 1025 bytes
      {"NoTerminatorIsText", "", "", "/opt/raw/", "/opt/raw/", false},
      {"FullBufferWithoutTerminator", "", "", std::string(1024, 'x'), ".", false}};
#if !defined(_WIN32)
  cases.push_back(
      {"PlainKeyOn32Bit", "/opt/quillon64/", "/opt/quillon32/", "", "/opt/quillon32/", true});
#endif
  return cases;
}

INSTANTIATE_TEST_SUITE_P(BaseDir, BaseDirLookup, ::testing::ValuesIn(baseDirCases()),
                         [](const ::testing::TestParamInfo<BaseDirCase>& i) {
                           return i.param.label;
                         });

// Threads released together get one pointer from one lookup: a later change
// in the registry is not seen.
TEST(BaseDir, ConcurrentFirstCallsGetOnePointerAndOneLookup) {
  pdatest::TempMachine machine;
  pdatest::regSetString(kKey64, "BaseDir", "/opt/first/");
  std::vector<const char*> results = callTogether(8, &DirUtilities::getBaseDir);
  for (const char* r : results) {
    EXPECT_EQ(r, results[0]);
    EXPECT_STREQ(r, "/opt/first/");
  }
  pdatest::regSetString(kKey64, "BaseDir", "/opt/second/");
  EXPECT_STREQ(DirUtilities::getBaseDir(), "/opt/first/");
}

// ---------------------------------------------------------------- data directories

// The machine's data and PXI folders, cached for the life of the process.
TEST(DataDirs, CachedForTheLifeOfTheProcess) {
  pdatest::TempMachine machine;
  const std::string first = DirUtilities::getSharedDataDir();
  const std::string firstPxi = DirUtilities::getPxiDataDir();
  EXPECT_EQ(first, machine.dataDir());
  EXPECT_EQ(firstPxi, first + "PXI" PDA_PATH_SEP);
#if defined(_WIN32)
  GTEST_SKIP() << "a Windows machine has one common application data folder: no second machine "
                  "with another one can follow the first in the same process";
#else
  EXPECT_EQ(first, machine.root() + "/ProgramData/Tessaro/Tessaro Quillon/");
#endif
  // A different machine root afterwards changes nothing.
  pdatest::TempMachine other;
  EXPECT_EQ(DirUtilities::getSharedDataDir(), first);
  EXPECT_EQ(DirUtilities::getPxiDataDir(), firstPxi);
  EXPECT_NE(first, other.dataDir());
}

#if !defined(_WIN32)
// The stand-in's shell refuses a folder path of MAX_PATH characters or more.
TEST(DataDirs, FailedShellLookupAnswersEmptyAndIsRetried) {
  pdatest::TempMachine machine;
  const std::string tooLong = machine.root() + "/" + std::string(300, 'r');
  setenv("PDA_ROOT", tooLong.c_str(), 1);
  const char* failedData = DirUtilities::getSharedDataDir();
  const char* failedPxi = DirUtilities::getPxiDataDir();
  EXPECT_STREQ(failedData, "");
  EXPECT_STREQ(failedPxi, "");
  EXPECT_STREQ(DirUtilities::getSharedDataDir(), "");

  setenv("PDA_ROOT", machine.root().c_str(), 1);
  EXPECT_EQ(DirUtilities::getSharedDataDir(), machine.dataDir());
  EXPECT_EQ(DirUtilities::getPxiDataDir(), machine.pxiDir());
  // An answer handed out before the retry did not change under its holder.
  EXPECT_STREQ(failedData, "");
  EXPECT_STREQ(failedPxi, "");
}
#endif

TEST(DataDirs, ConcurrentFirstCallsAgree) {
  pdatest::TempMachine machine;
  std::vector<const char*> pxi = callTogether(8, &DirUtilities::getPxiDataDir);
  for (const char* p : pxi) EXPECT_EQ(p, pxi[0]);
  EXPECT_EQ(pxi[0], machine.pxiDir());
}

}  // namespace

// The process-wide default store: installation test, the registry switch in
// each of its types, and the published choice. Every test runs in a process
// of its own, so each one decides afresh.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "pda/KestInfo.h"
#include "pda/KestRecord.h"
#include "pda/KestRegistry.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"

namespace {

const char* const kKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kSwitch = "_UseRegistryForPersistedData";
const char* const kPublished = "_UnmanagedCodePersistedDataStore";

// The published choice, or "<none>" when nothing was written.
std::string published() {
  unsigned int type = 0;
  std::string bytes;
  if (!pdatest::regGet(kKey, kPublished, &type, &bytes)) return "<none>";
  EXPECT_EQ(type, static_cast<unsigned int>(REG_SZ));
  EXPECT_EQ(bytes.empty() ? 'x' : bytes.back(), '\0');  // written with its terminating NUL
  return std::string(bytes.c_str());
}

std::string sz(const std::string& text) {
  return std::string(text.c_str(), text.size() + 1);
}
std::string dword(unsigned int value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

struct SwitchCase {
  const char* label;
  unsigned int type;
  std::string bytes;
  DataSource expected;
  const char* publishedText;
};

// The switch in each of its types. The decision is made once per process, so
// every case is a test of its own.
const SwitchCase kSwitchCases[] = {
    {"TextTrue", REG_SZ, sz("True"), RegistryDataSource, "Registry"},
    {"TextTrueMixedCase", REG_SZ, sz("tRuE"), RegistryDataSource, "Registry"},
    {"TextTrueWithoutTerminator", REG_SZ, "True", RegistryDataSource, "Registry"},
    {"TextWithTrailingBlank", REG_SZ, sz("True "), SQLiteDataSource, "Database"},
    {"FifteenCharactersFit", REG_SZ, sz("TrueTrueTrueTru"), SQLiteDataSource, "Database"},
    {"SixteenCharactersDoNotFit", REG_SZ, sz("TrueTrueTrueTrue"), SQLiteDataSource, "<none>"},
    // Fills the buffer exactly, with no NUL in it: must not be read past.
    {"SixteenBytesWithoutTerminator", REG_SZ, "TrueXXXXXXXXXXXX", SQLiteDataSource, "Database"},
    {"DwordOne", REG_DWORD, dword(1), RegistryDataSource, "Registry"},
    {"DwordHighByteOnly", REG_DWORD, dword(0x01000000u), RegistryDataSource, "Registry"},
    {"ShortDwordReadsMissingBytesAsZero", REG_DWORD, std::string("\0", 1), SQLiteDataSource,
     "Database"},
    {"BinaryNonZeroFirstByte", REG_BINARY, std::string("\x01\x00", 2), RegistryDataSource,
     "Registry"},
    {"BinaryDecidesByFirstByteOnly", REG_BINARY, std::string("\x00\x01", 2), SQLiteDataSource,
     "Database"},
    {"ExpandableTextTrue", REG_EXPAND_SZ, sz("True"), SQLiteDataSource, "Database"},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << c.label;
}

class KestRecordSwitch : public ::testing::TestWithParam<SwitchCase> {};

}  // namespace

// Not installed: the built-in defaults whatever the switch says, for the
// default and for a record without a source; nothing is published.
TEST(KestRecordDefaultSource, NotInstalledIgnoresTheSwitchAndPublishesNothing) {
  pdatest::TempMachine machine;
  pdatest::regSetString(kKey, kSwitch, "True");
  KestInfo record(UnknownDataSource);
  EXPECT_EQ(record.getDataSource(), DeviceIoDataSource);
  EXPECT_EQ(published(), "<none>");
}

// The switch only in the 32-bit view is not read: SQLite.
TEST(KestRecordDefaultSource, SwitchInThe32BitViewIsNotRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString("SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion", kSwitch,
                        "True");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), SQLiteDataSource);
}

TEST_P(KestRecordSwitch, DecidesByTheSwitchAndPublishes) {
  const SwitchCase& c = GetParam();
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetRaw(kKey, kSwitch, c.type, c.bytes);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), c.expected);
  EXPECT_EQ(published(), c.publishedText);
}

INSTANTIATE_TEST_SUITE_P(Types, KestRecordSwitch, ::testing::ValuesIn(kSwitchCases),
                         [](const ::testing::TestParamInfo<SwitchCase>& param) {
                           return std::string(param.param.label);
                         });

// A record of a named source decides nothing; the first record without one
// decides and publishes, once for the process.
TEST(KestRecordDefaultSource, DecidedOnceForTheProcess) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "True");
  KestInfo named(DeviceIoDataSource);
  EXPECT_EQ(published(), "<none>");
  KestInfo record;
  EXPECT_EQ(record.getDataSource(), RegistryDataSource);
  EXPECT_NE(dynamic_cast<KestRegistry*>(record.getIKestBase()), nullptr);
  EXPECT_EQ(published(), "Registry");
  pdatest::regSetDword(kKey, kSwitch, 0);
  pdatest::regSetString(kKey, kPublished, "changed");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);
  EXPECT_EQ(published(), "changed");  // no second decision, so no second publication
  KestRecord::writeDataSourceBool();  // by hand: the decision again
  EXPECT_EQ(published(), "Registry");
}

#if !defined(_WIN32)
// The stand-in's switch for a process without write rights.
TEST(KestRecordDefaultSource, ReadOnlyRegistryStillDecides) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "true");
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);
  unsetenv("PDA_REGISTRY_READONLY");
  EXPECT_EQ(published(), "<none>");
}
#endif

// Publishing by hand: nothing without the key, "Database" before a decision.
TEST(KestRecordDefaultSource, WriteDataSourceBoolBeforeADecision) {
  pdatest::TempMachine machine;
  KestRecord::writeDataSourceBool();
  unsigned int type = 0;
  EXPECT_FALSE(pdatest::regGet(kKey, kPublished, &type, nullptr));
  pdatest::regSetString(kKey, "Other", "x");
  KestRecord::writeDataSourceBool();
  EXPECT_EQ(published(), "Database");
}

// Threads deciding at once (each through a record's construction) agree.
TEST(KestRecordDefaultSource, ThreadsDecidingAtOnceAgree) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "TRUE");
  std::atomic<bool> go{false};
  std::vector<int> seen(8, -1);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      seen[i] = KestInfo().getDataSource();
    });
  go = true;
  for (auto& t : threads) t.join();
  for (int s : seen) EXPECT_EQ(s, RegistryDataSource);
  EXPECT_EQ(published(), "Registry");
}

#if !defined(_WIN32)
// Nothing decided in this process before the fork: each child decides on
// its own and publishes, at the same time as the others.
TEST(KestRecordDefaultSource, ProcessesDecideAndPublishIndependently) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetDword(kKey, kSwitch, 1);
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(KestRecord::getGlobalDefaultDataSource() == RegistryDataSource ? 0 : 3);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(published(), "Registry");
}
#endif

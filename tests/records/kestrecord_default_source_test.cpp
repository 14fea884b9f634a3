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
#include <string>
#include <thread>
#include <vector>

#include "pda/KestInfo.h"
#include "pda/KestRecord.h"
#include "pda/KestRegistry.h"
#include "pda/KestSQLite.h"
#include "pda/Platform.h"
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
  // Written with its terminating NUL.
  EXPECT_FALSE(bytes.empty());
  if (!bytes.empty()) {
    EXPECT_EQ(bytes.back(), '\0');
  }
  return std::string(bytes.c_str());
}

struct SwitchCase {
  const char* label;
  unsigned int type;
  std::string bytes;
  DataSource expected;
  const char* publishedText;
};

std::string sz(const std::string& text) {
  return std::string(text.c_str(), text.size() + 1);
}
std::string dword(unsigned int value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// Installs the suite, stores the switch and decides.
void expectDecision(const SwitchCase& c) {
  SCOPED_TRACE(c.label);
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetRaw(kKey, kSwitch, c.type, c.bytes);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), c.expected);
  EXPECT_EQ(published(), c.publishedText);
}

}  // namespace

// ---------------------------------------------------------------------------
// Not installed: built-in defaults, registry untouched

TEST(KestRecordDefaultSource, NotInstalledUsesTheBuiltInDefaults) {
  pdatest::TempMachine machine;
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), DeviceIoDataSource);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), DeviceIoDataSource);
}

TEST(KestRecordDefaultSource, NotInstalledIgnoresTheSwitchAndPublishesNothing) {
  pdatest::TempMachine machine;
  pdatest::regSetString(kKey, kSwitch, "True");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), DeviceIoDataSource);
  EXPECT_EQ(published(), "<none>");
}

// ---------------------------------------------------------------------------
// Installed: the switch by type

TEST(KestRecordDefaultSource, InstalledWithoutTheSettingsKeyUsesSQLite) {
  pdatest::TempMachine machine;
  machine.installSuite();  // registers BaseDir in the 32-bit view only
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), SQLiteDataSource);
  EXPECT_EQ(published(), "<none>");
}

TEST(KestRecordDefaultSource, MissingSwitchUsesSQLiteAndPublishesNothing) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, "Unrelated", "True");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), SQLiteDataSource);
  EXPECT_EQ(published(), "<none>");
}

TEST(KestRecordDefaultSource, SwitchInThe32BitViewIsNotRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString("SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion", kSwitch,
                        "True");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), SQLiteDataSource);
}

TEST(KestRecordDefaultSource, TextTrueSelectsTheRegistry) {
  expectDecision({"True", REG_SZ, sz("True"), RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, TextTrueMixedCase) {
  expectDecision({"tRuE", REG_SZ, sz("tRuE"), RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, TextTrueWithoutTerminator) {
  expectDecision({"True, no NUL", REG_SZ, "True", RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, TextOfDigitsKeepsSQLite) {
  expectDecision({"1", REG_SZ, sz("1"), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, TextFalseKeepsSQLite) {
  expectDecision({"False", REG_SZ, sz("False"), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, TextWithTrailingBlankKeepsSQLite) {
  expectDecision({"True ", REG_SZ, sz("True "), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, EmptyTextKeepsSQLiteButPublishes) {
  expectDecision({"empty", REG_SZ, sz(""), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, FifteenCharactersFitTheBuffer) {
  expectDecision({"15 chars", REG_SZ, sz("TrueTrueTrueTru"), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, SixteenCharactersDoNotFitAndNothingIsPublished) {
  expectDecision({"16 chars", REG_SZ, sz("TrueTrueTrueTrue"), SQLiteDataSource, "<none>"});
}
TEST(KestRecordDefaultSource, SixteenBytesWithoutTerminatorAreReadWithinBounds) {
  // Fills the buffer exactly, with no NUL in it: must not be read past.
  expectDecision({"16 bytes", REG_SZ, "TrueXXXXXXXXXXXX", SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, TrueFollowedByNulsFillingTheBuffer) {
  expectDecision({"True + NULs", REG_SZ, std::string("True", 4) + std::string(12, '\0'),
                  RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, DwordOneSelectsTheRegistry) {
  expectDecision({"dword 1", REG_DWORD, dword(1), RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, DwordZeroKeepsSQLite) {
  expectDecision({"dword 0", REG_DWORD, dword(0), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, DwordWithOnlyAHighByteSetSelectsTheRegistry) {
  expectDecision(
      {"dword 0x01000000", REG_DWORD, dword(0x01000000u), RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, ShortDwordReadsTheMissingBytesAsZero) {
  expectDecision({"dword 1 byte", REG_DWORD, std::string("\0", 1), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, BinaryWithNonZeroFirstByteSelectsTheRegistry) {
  expectDecision(
      {"binary 01", REG_BINARY, std::string("\x01\x00", 2), RegistryDataSource, "Registry"});
}
TEST(KestRecordDefaultSource, BinaryDecidesByItsFirstByteOnly) {
  expectDecision(
      {"binary 00 01", REG_BINARY, std::string("\x00\x01", 2), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, EmptyBinaryKeepsSQLite) {
  expectDecision({"binary empty", REG_BINARY, "", SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, BinaryOfSeventeenBytesDoesNotFit) {
  expectDecision({"binary 17", REG_BINARY, std::string(17, '\x01'), SQLiteDataSource, "<none>"});
}
TEST(KestRecordDefaultSource, ExpandableTextTrueKeepsSQLite) {
  expectDecision({"expand_sz", REG_EXPAND_SZ, sz("True"), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, QwordKeepsSQLite) {
  expectDecision(
      {"qword", REG_QWORD, std::string("\x01\0\0\0\0\0\0\0", 8), SQLiteDataSource, "Database"});
}
TEST(KestRecordDefaultSource, MultiStringKeepsSQLite) {
  expectDecision(
      {"multi_sz", REG_MULTI_SZ, std::string("True\0\0", 6), SQLiteDataSource, "Database"});
}

// ---------------------------------------------------------------------------
// Decided once; publishing failures are ignored

TEST(KestRecordDefaultSource, DecidedOnceForTheProcess) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "True");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);

  pdatest::regSetDword(kKey, kSwitch, 0);
  pdatest::regSetString(kKey, kPublished, "changed");
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);
  // No second decision, so no second publication.
  EXPECT_EQ(published(), "changed");
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

TEST(KestRecordDefaultSource, WriteDataSourceBoolBeforeADecisionPublishesDatabase) {
  pdatest::TempMachine machine;
  pdatest::regSetString(kKey, "Other", "x");
  KestRecord::writeDataSourceBool();
  EXPECT_EQ(published(), "Database");
}

TEST(KestRecordDefaultSource, WriteDataSourceBoolWithoutTheKeyCreatesNothing) {
  pdatest::TempMachine machine;
  KestRecord::writeDataSourceBool();
  unsigned int type = 0;
  EXPECT_FALSE(pdatest::regGet(kKey, kPublished, &type, nullptr));
}

TEST(KestRecordDefaultSource, WriteDataSourceBoolRepublishesTheDecision) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetDword(kKey, kSwitch, 7);
  EXPECT_EQ(KestRecord::getGlobalDefaultDataSource(), RegistryDataSource);
  pdatest::regSetString(kKey, kPublished, "stale");
  KestRecord::writeDataSourceBool();
  EXPECT_EQ(published(), "Registry");
}

// ---------------------------------------------------------------------------
// Concurrency: threads and processes deciding at once

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
      KestInfo record;  // resolves the default on construction
      seen[i] = record.getDataSource();
    });
  go = true;
  for (auto& t : threads) t.join();
  for (int s : seen) EXPECT_EQ(s, RegistryDataSource);
  EXPECT_EQ(published(), "Registry");
}

#if !defined(_WIN32)
TEST(KestRecordDefaultSource, ProcessesDecideAndPublishIndependently) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetDword(kKey, kSwitch, 1);
  // Nothing decided in this process before the fork: each child decides on
  // its own and publishes, at the same time as the others.
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const DataSource chosen = KestRecord::getGlobalDefaultDataSource();
      _exit(chosen == RegistryDataSource ? 0 : 3);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(published(), "Registry");
}
#endif

// ---------------------------------------------------------------------------
// Records take the default

TEST(KestRecordDefaultSource, RecordWithoutASourceReportsTheResolvedOne) {
  pdatest::TempMachine machine;
  KestInfo record(UnknownDataSource);
  EXPECT_EQ(record.getDataSource(), DeviceIoDataSource);
  EXPECT_STREQ(record.getDataSourceString(), "DeviceIoDataSource");
  ASSERT_NE(record.getIKestBase(), nullptr);
  EXPECT_STREQ(record.getIKestBase()->RecordType(), "KestInfo");
}

TEST(KestRecordDefaultSource, InstalledRecordWithoutASourceTakesTheRegistry) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "True");
  KestInfo record;
  EXPECT_EQ(record.getDataSource(), RegistryDataSource);
  EXPECT_NE(dynamic_cast<KestRegistry*>(record.getIKestBase()), nullptr);
}

TEST(KestRecordDefaultSource, InstalledRecordWithoutASourceTakesSQLite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  KestInfo record;
  EXPECT_EQ(record.getDataSource(), SQLiteDataSource);
  EXPECT_NE(dynamic_cast<KestSQLite*>(record.getIKestBase()), nullptr);
}

TEST(KestRecordDefaultSource, NamedSourceDoesNotDecideTheDefault) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kKey, kSwitch, "True");
  KestInfo record(DeviceIoDataSource);
  EXPECT_EQ(record.getDataSource(), DeviceIoDataSource);
  EXPECT_EQ(published(), "<none>");
}

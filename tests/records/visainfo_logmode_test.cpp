// The VISA logging mode: the keyword table, what setLogMode stores, and the
// process-wide answer that is read once and kept. Every test runs in a
// process of its own, so each starts with an empty cache.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pda/VisaInfo.h"
#include "support/Fixtures.h"

namespace {

const char kSwitchKey[] = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";
const char kVisaKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion\\VISAInfo";

visaLoggingMode modeOf(const char* text) {
  VisaInfo record(DeviceIoDataSource);  // in memory only
  EXPECT_NE(0, record.setValueString("Logging", text));
  return record.getLogMode();
}

std::string storedLogging(const std::string& db) {
  std::string out = pdatest::sqlite(db, "SELECT VALUE FROM VisaInfo WHERE NAME = 'Logging';");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

void setStoredLogging(const std::string& db, const std::string& text) {
  pdatest::sqlite(db,
                  "DELETE FROM VisaInfo WHERE NAME = 'Logging';"
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('Logging', " +
                      pdatest::sqlQuote(text) + ");");
}

}  // namespace

// ---------------------------------------------------------------------------
// Keywords.

TEST(VisaLogModeKeywords, KeywordsInAnyCaseAndNothingElse) {
  pdatest::TempMachine machine;
  VisaInfo missing(DeviceIoDataSource);
  EXPECT_EQ(LogModeOff, missing.getLogMode());
  const struct {
    const char* text;
    visaLoggingMode mode;
  } cases[] = {
      {"EVENTVIEWER", LogModeEventViewer},
      {"eventviewer", LogModeEventViewer},
      {"BRIX", LogModeEventViewer},
      {"brix", LogModeEventViewer},
      {"standard", LogModeEventViewer},
      {"STANDARD", LogModeEventViewer},
      {"Default", LogModeEventViewer},
      {"DEBUGGER", LogModeDebugger},
      {"debugger", LogModeDebugger},
      {"ods", LogModeDebugger},
      {"OutputDebugString", LogModeDebugger},
      {"OFF", LogModeOff},
      {"off", LogModeOff},
      {"", LogModeOff},
      // No trimming, no prefix matching, nothing else.
      {"EVENTVIEWER ", LogModeOff},
      {" DEBUGGER", LogModeOff},
      {"DEBUG", LogModeOff},
      {"ODSX", LogModeOff},
      {"2", LogModeOff},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.mode, modeOf(c.text));
  }
  EXPECT_EQ(LogModeOff, modeOf(std::string(2000, 'A').c_str()));
}

// ---------------------------------------------------------------------------
// setLogMode.

TEST(VisaLogModeSet, WritesOnlyTheThreeKeywords) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  VisaInfo record(SQLiteDataSource);
  const struct {
    int mode;
    const char* stored;
    visaLoggingMode readBack;
  } cases[] = {
      {2, "EVENTVIEWER", LogModeEventViewer},
      {3, "DEBUGGER", LogModeDebugger},
      {1, "OFF", LogModeOff},
      {0, "OFF", LogModeOff},
      {7, "OFF", LogModeOff},
      {-1, "OFF", LogModeOff},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_NE(0, record.setLogMode(static_cast<visaLoggingMode>(c.mode)));
    EXPECT_EQ(c.stored, storedLogging(db));
    EXPECT_EQ(c.readBack, record.getLogMode());
  }
}

// ---------------------------------------------------------------------------
// The process-wide cache.

TEST(VisaLogModeCache, SetLogModeDoesNotChangeTheCachedAnswer) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  setStoredLogging(db, "debugger");
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());

  VisaInfo record;  // the default store: this database
  EXPECT_NE(0, record.setLogMode(LogModeEventViewer));
  EXPECT_EQ(LogModeEventViewer, record.getLogMode());
  VisaInfo other;
  EXPECT_EQ(LogModeEventViewer, other.getLogMode());
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());

  // Nor does a change made by another program.
  setStoredLogging(db, "OFF");
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
}

TEST(VisaLogModeCache, ReadsTheRegistryWhenItIsTheDefaultStore) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kSwitchKey, "_UseRegistryForPersistedData", "True");
  pdatest::regSetString(kVisaKey, "Logging", "Brix");
  EXPECT_EQ(LogModeEventViewer, VisaInfo::getVisaLoggingMode());
  pdatest::regSetString(kVisaKey, "Logging", "ODS");
  EXPECT_EQ(LogModeEventViewer, VisaInfo::getVisaLoggingMode());
  VisaInfo record;
  EXPECT_EQ(LogModeDebugger, record.getLogMode());
}

TEST(VisaLogModeCache, ConcurrentFirstCallsAgree) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  setStoredLogging(db, "OutputDebugString");

  const int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<int> results(kThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      results[i] = VisaInfo::getVisaLoggingMode();
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(LogModeDebugger, results[i]) << "thread " << i;
}

#if !defined(_WIN32)
TEST(VisaLogModeCache, OtherProcessesSeeChangesOnlyUntilTheyAsk) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  setStoredLogging(db, "DEBUGGER");

  // The child starts before anything is cached and waits for the parent.
  int toChild[2];
  ASSERT_EQ(0, pipe(toChild));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(toChild[1]);
    char go = 0;
    if (read(toChild[0], &go, 1) != 1) _exit(100);
    int first = VisaInfo::getVisaLoggingMode();
    _exit(first);  // never runs the parent's destructors
  }
  close(toChild[0]);

  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
  setStoredLogging(db, "EVENTVIEWER");
  ASSERT_EQ(1, write(toChild[1], "g", 1));
  close(toChild[1]);

  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(LogModeEventViewer, WEXITSTATUS(status));          // the child asked after the change
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());  // this process keeps its answer
}
#endif

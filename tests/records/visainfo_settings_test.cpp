// The VISA settings record: every accessor's stored name, default and round
// trip, and the logging mode: the keyword table, what setLogMode stores, and
// the process-wide answer read once and kept (each test is a process of its
// own, so each starts with an empty cache).

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pda/IKestBase.h"
#include "pda/VisaInfo.h"
#include "support/Fixtures.h"

namespace {

// One number: its stored name, default, getter and setter. The three
// identification numbers take a buffer they never touch: their getters are
// wrapped so that the table treats every number alike, checking the buffer.
struct IntSetting {
  const char* storedName;
  int defaultValue;
  int (*get)(VisaInfo&);
  int (VisaInfo::*set)(int);
};
template <int (VisaInfo::*Getter)()>
int plain(VisaInfo& record) {
  return (record.*Getter)();
}
template <int (VisaInfo::*Getter)(char*, unsigned int)>
int viaBuffer(VisaInfo& record) {
  char buffer[16] = "untouched";
  int value = (record.*Getter)(buffer, sizeof buffer);
  EXPECT_STREQ("untouched", buffer);
  return value;
}
#define PLAIN(name, fallback, get, set) \
  { name, fallback, &plain<&VisaInfo::get>, &VisaInfo::set }
const IntSetting kIntSettings[] = {
    PLAIN("MaxSessNbr", 256, getConfigMaxNbrOfSess, setConfigMaxNbrOfSess),
    PLAIN("MaxNbrOfProcs", 64, getConfigMaxNbrOfProcs, setConfigMaxNbrOfProcs),
    PLAIN("DefaultQSize", 50, getDefaultQSize, setDefaultQSize),
    PLAIN("CreateOnOpen", 1, getCreateOnOpenMode, setCreateOnOpenMode),
    PLAIN("LoggingVerboseLevel", 0, getLoggingVerboseLevel, setLoggingVerboseLevel),
    PLAIN("YieldMode", 0, getYieldMode, setYieldMode),
    PLAIN("SleepMs", 0, getSleepMs, setSleepMs),
    PLAIN("DefaultLockWait", 0, getDefaultLockWait, setDefaultLockWait),
    PLAIN("DefaultAllowLocalSpaceFifo", 0, getDefaultAllowLocalSpaceFifo,
          setDefaultAllowLocalSpaceFifo),
    PLAIN("AutoConfigAsrlInstr", 0, getAutoConfigAsrlInstr, setAutoConfigAsrlInstr),
    {"Spec Version", 0, &viaBuffer<&VisaInfo::getSpecVersion>, &VisaInfo::setSpecVersion},
    {"ManfVersionNbr", 0, &viaBuffer<&VisaInfo::getManfVersionNbr>, &VisaInfo::setManfVersionNbr},
    {"ManfID", 0, &viaBuffer<&VisaInfo::getManfID>, &VisaInfo::setManfID},
};
#undef PLAIN

struct StringSetting {
  const char* storedName;
  const char* defaultValue;
  void (VisaInfo::*get)(char*, unsigned int);
  int (VisaInfo::*set)(char*);
};
const StringSetting kStringSettings[] = {
    {"Manufacturer", "not specified", &VisaInfo::getManufacturer, &VisaInfo::setManufacturer},
    {"Copyright", "", &VisaInfo::getCopyright, &VisaInfo::setCopyright},
    {"ManfVersion", "", &VisaInfo::getManfVersion, &VisaInfo::setManfVersion},
    {"LastMod", "", &VisaInfo::getLastMod, &VisaInfo::setLastMod},
    {"ModTool", "", &VisaInfo::getModTool, &VisaInfo::setModTool},
};

std::string readString(VisaInfo& record, void (VisaInfo::*get)(char*, unsigned int)) {
  char buffer[256];
  std::memset(buffer, 'x', sizeof buffer);
  (record.*get)(buffer, sizeof buffer);
  return buffer;
}

// Every number gets a value of its own, far from every default.
int valueFor(std::size_t index) {
  return 1000 + static_cast<int>(index) * 7;
}

std::string storedValue(const std::string& db, const std::string& name = "Logging") {
  std::string out = pdatest::sqlite(
      db, "SELECT VALUE FROM VisaInfo WHERE NAME = " + pdatest::sqlQuote(name) + ";");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

void setStoredLogging(const std::string& db, const std::string& text) {
  pdatest::sqlite(db,
                  "DELETE FROM VisaInfo WHERE NAME = 'Logging';"
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('Logging', " +
                      pdatest::sqlQuote(text) + ");");
}

// An installed suite with an empty configuration database.
std::string installWithDatabase(const pdatest::TempMachine& machine) {
  machine.installSuite();
  return machine.createConfigDatabase();
}

}  // namespace

// Every accessor writes its stored name ("Spec Version" with its blank),
// read back by a new record and the sqlite3 client; setLogMode writes only
// the three keywords.
TEST(VisaInfoSQLite, EveryAccessorWritesItsStoredNameAndReadsItBack) {
  pdatest::TempMachine machine;
  const std::string db = installWithDatabase(machine);
  {
    VisaInfo record(SQLiteDataSource);
    for (const IntSetting& s : kIntSettings) EXPECT_EQ(s.defaultValue, s.get(record));
    for (const StringSetting& s : kStringSettings)
      EXPECT_EQ(s.defaultValue, readString(record, s.get)) << s.storedName;
    std::size_t index = 0;
    for (const IntSetting& s : kIntSettings)
      EXPECT_NE(0, (record.*s.set)(valueFor(index++))) << s.storedName;
    for (const StringSetting& s : kStringSettings) {
      std::string text = std::string("text of ") + s.storedName;
      EXPECT_NE(0, (record.*s.set)(&text[0]));
    }
  }
  std::size_t index = 0;
  VisaInfo again(SQLiteDataSource);
  for (const IntSetting& s : kIntSettings) {
    EXPECT_EQ(std::to_string(valueFor(index)), storedValue(db, s.storedName)) << s.storedName;
    EXPECT_EQ(valueFor(index++), s.get(again));
  }
  for (const StringSetting& s : kStringSettings) {
    EXPECT_EQ(std::string("text of ") + s.storedName, storedValue(db, s.storedName));
    EXPECT_EQ(std::string("text of ") + s.storedName, readString(again, s.get));
  }
  const struct {
    int mode;
    const char* stored;
    visaLoggingMode readBack;
  } modes[] = {{2, "EVENTVIEWER", LogModeEventViewer},
               {3, "DEBUGGER", LogModeDebugger},
               {1, "OFF", LogModeOff},
               {7, "OFF", LogModeOff}};
  for (const auto& c : modes) {
    SCOPED_TRACE(c.mode);
    EXPECT_NE(0, again.setLogMode(static_cast<visaLoggingMode>(c.mode)));
    EXPECT_EQ(c.stored, storedValue(db));
    EXPECT_EQ(c.readBack, again.getLogMode());
  }
}

// The logging keywords are taken in any case, whole, and nothing else.
TEST(VisaInfoLogMode, KeywordsInAnyCaseAndNothingElse) {
  pdatest::TempMachine machine;
  VisaInfo keywords(DeviceIoDataSource);  // in memory only
  EXPECT_EQ(LogModeOff, keywords.getLogMode());
  const std::pair<visaLoggingMode, std::vector<const char*>> cases[] = {
      {LogModeEventViewer, {"eventviewer", "BRIX", "STANDARD", "Default"}},
      {LogModeDebugger, {"debugger", "ods", "OutputDebugString"}},
      // No trimming, no prefix matching, nothing else.
      {LogModeOff, {"off", "", "EVENTVIEWER ", " DEBUGGER", "DEBUG", "ODSX"}}};
  for (const auto& c : cases)
    for (const char* text : c.second) {
      SCOPED_TRACE(text);
      EXPECT_NE(0, keywords.setValueString("Logging", text));
      EXPECT_EQ(c.first, keywords.getLogMode());
    }
}

// Threads asking first at once agree.
TEST(VisaLogModeCache, ConcurrentFirstCallsAgree) {
  pdatest::TempMachine machine;
  setStoredLogging(installWithDatabase(machine), "OutputDebugString");
  const int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<int> results(kThreads, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      results[i] = VisaInfo::getVisaLoggingMode();
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(LogModeDebugger, results[i]) << "thread " << i;
}

#if !defined(_WIN32)
// The answer is read once and kept: a child started before anything is
// cached, that asks after the parent's answer and a change of the stored
// mode, sees the change; the parent keeps its answer.
TEST(VisaLogModeCache, OtherProcessesSeeChangesOnlyUntilTheyAsk) {
  pdatest::TempMachine machine;
  const std::string db = installWithDatabase(machine);
  setStoredLogging(db, "DEBUGGER");
  int toChild[2];
  ASSERT_EQ(0, pipe(toChild));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(toChild[1]);
    char go = 0;
    if (read(toChild[0], &go, 1) != 1) _exit(100);
    _exit(VisaInfo::getVisaLoggingMode());  // never runs the parent's destructors
  }
  close(toChild[0]);
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
  setStoredLogging(db, "EVENTVIEWER");
  ASSERT_EQ(1, write(toChild[1], "g", 1));
  close(toChild[1]);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(LogModeEventViewer, WEXITSTATUS(status));
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
}
#endif

// The VISA settings record: every accessor's stored name, default and
// round trip on the SQLite and registry stores, the record without a store,
// and the logging mode: the keyword table, what setLogMode stores, and the
// process-wide answer that is read once and kept (every test runs in a
// process of its own, so each starts with an empty cache).

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pda/IKestBase.h"
#include "pda/VisaInfo.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"

namespace {

const char kVisaKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion\\VISAInfo";
const char kSwitchKey[] = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

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

void expectDefaults(VisaInfo& record) {
  for (const IntSetting& s : kIntSettings) EXPECT_EQ(s.defaultValue, s.get(record)) << s.storedName;
  for (const StringSetting& s : kStringSettings)
    EXPECT_EQ(s.defaultValue, readString(record, s.get)) << s.storedName;
}

}  // namespace

// Every accessor writes its stored name ("Spec Version" with its blank) and
// reads it back, also through a new record; values written by other programs
// are read as stored; setLogMode writes only the three keywords.
TEST(VisaInfoSQLite, EveryAccessorWritesItsStoredNameAndReadsItBack) {
  pdatest::TempMachine machine;
  const std::string db = installWithDatabase(machine);
  {
    VisaInfo record(SQLiteDataSource);
    expectDefaults(record);
    std::size_t index = 0;
    for (const IntSetting& s : kIntSettings) {
      EXPECT_NE(0, (record.*s.set)(valueFor(index))) << s.storedName;
      EXPECT_EQ(valueFor(index++), s.get(record)) << s.storedName;
    }
    for (const StringSetting& s : kStringSettings) {
      std::string text = std::string("text of ") + s.storedName + " (set)";
      EXPECT_NE(0, (record.*s.set)(&text[0]));
      EXPECT_EQ(text, readString(record, s.get));
    }
  }
  std::size_t index = 0;
  VisaInfo again(SQLiteDataSource);
  for (const IntSetting& s : kIntSettings) {
    EXPECT_EQ(std::to_string(valueFor(index)), storedValue(db, s.storedName)) << s.storedName;
    EXPECT_EQ(valueFor(index++), s.get(again));
  }
  for (const StringSetting& s : kStringSettings)
    EXPECT_EQ(std::string("text of ") + s.storedName + " (set)", storedValue(db, s.storedName));
  EXPECT_EQ("", storedValue(db, "SpecVersion"));

  pdatest::sqlite(db,
                  "DELETE FROM VisaInfo; INSERT INTO VisaInfo(NAME, VALUE) VALUES"
                  "('spec version', '5'),('MaxSessNbr', '0'),('MaxNbrOfProcs', ''),"
                  "('DefaultQSize', '99999999999'),('MANUFACTURER', 'Tessaro');");
  VisaInfo stored(SQLiteDataSource);
  char buffer[8] = "keep";
  EXPECT_EQ(5, stored.getSpecVersion(buffer, sizeof buffer));
  EXPECT_STREQ("keep", buffer);
  EXPECT_EQ(0, stored.getConfigMaxNbrOfSess());     // stored 0 is no missing value
  EXPECT_EQ(64, stored.getConfigMaxNbrOfProcs());   // empty text reads as missing
  EXPECT_EQ(2147483647, stored.getDefaultQSize());  // saturates, no range check
  EXPECT_EQ("Tessaro", readString(stored, &VisaInfo::getManufacturer));

  const struct {
    int mode;
    const char* stored;
    visaLoggingMode readBack;
  } modes[] = {
      {2, "EVENTVIEWER", LogModeEventViewer},
      {3, "DEBUGGER", LogModeDebugger},
      {1, "OFF", LogModeOff},
      {0, "OFF", LogModeOff},
      {7, "OFF", LogModeOff},
      {-1, "OFF", LogModeOff},
  };
  for (const auto& c : modes) {
    SCOPED_TRACE(c.mode);
    EXPECT_NE(0, stored.setLogMode(static_cast<visaLoggingMode>(c.mode)));
    EXPECT_EQ(c.stored, storedValue(db));
    EXPECT_EQ(c.readBack, stored.getLogMode());
  }
}

// The registry's "VISAInfo" key keeps numbers as REG_DWORD values; a record
// without a store gives the defaults and refuses every write; the logging
// keywords are taken in any case and nothing else.
TEST(VisaInfoRegistry, WritesGoToTheVisaInfoKey) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString(kVisaKey, "ManfID", "4095");
  VisaInfo record(RegistryDataSource);
  char buffer[4] = "abc";
  EXPECT_EQ(4095, record.getManfID(buffer, sizeof buffer));
  EXPECT_STREQ("abc", buffer);
  EXPECT_NE(0, record.setSpecVersion(7));
  EXPECT_NE(0, record.setLogMode(LogModeEventViewer));
  unsigned int type = 0;
  std::string bytes;
  ASSERT_TRUE(pdatest::regGet(kVisaKey, "Spec Version", &type, &bytes));
  EXPECT_EQ(static_cast<unsigned int>(REG_DWORD), type);
  EXPECT_EQ(std::string("\x07\0\0\0", 4), bytes);
  ASSERT_TRUE(pdatest::regGet(kVisaKey, "Logging", &type, &bytes));
  EXPECT_EQ(std::string("EVENTVIEWER"), std::string(bytes.c_str()));
  VisaInfo fresh(RegistryDataSource);
  EXPECT_EQ(7, fresh.getSpecVersion(buffer, sizeof buffer));
  EXPECT_EQ(LogModeEventViewer, fresh.getLogMode());

  VisaInfo wren(WrenDataSource);
  EXPECT_EQ(WrenDataSource, wren.getDataSource());
  EXPECT_EQ(nullptr, wren.getIKestBase());
  expectDefaults(wren);
  EXPECT_EQ(0, wren.setConfigMaxNbrOfSess(3));
  EXPECT_EQ(256, wren.getConfigMaxNbrOfSess());
  char text[] = "Maker";
  EXPECT_EQ(0, wren.setManufacturer(text));
  EXPECT_EQ(0, wren.setLogMode(LogModeDebugger));
  EXPECT_EQ(LogModeOff, wren.getLogMode());

  VisaInfo keywords(DeviceIoDataSource);  // in memory only
  EXPECT_EQ(LogModeOff, keywords.getLogMode());
  const struct {
    std::string text;
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
      {std::string(2000, 'A'), LogModeOff},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_NE(0, keywords.setValueString("Logging", c.text.c_str()));
    EXPECT_EQ(c.mode, keywords.getLogMode());
  }
}

// The process-wide answer changes neither with setLogMode nor with a change
// made by another program.
TEST(VisaLogModeCache, SetLogModeDoesNotChangeTheCachedAnswer) {
  pdatest::TempMachine machine;
  const std::string db = installWithDatabase(machine);
  setStoredLogging(db, "debugger");
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
  VisaInfo record;  // the default store: this database
  EXPECT_NE(0, record.setLogMode(LogModeEventViewer));
  EXPECT_EQ(LogModeEventViewer, record.getLogMode());
  EXPECT_EQ(LogModeEventViewer, VisaInfo().getLogMode());
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
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
  EXPECT_EQ(LogModeDebugger, VisaInfo().getLogMode());
}

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
// A child started before anything is cached, that asks after the parent's
// answer and a change of the stored mode, sees the change; the parent keeps
// its answer.
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

// The VISA settings record: the accessors' stored names, defaults and round
// trip, and the logging mode: the keyword table, what setLogMode stores, and
// the process-wide answer read once and kept (each test is a process of its
// own, so each starts with an empty cache).

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "pda/IKestBase.h"
#include "pda/VisaInfo.h"
#include "support/Fixtures.h"
#include "support/Threads.h"

namespace {

// One number: its stored name, default, getter and setter. The three
// identification numbers take a buffer they do not use.
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
  char buffer[16];
  return (record.*Getter)(buffer, sizeof buffer);
}
#define PLAIN(name, fallback, get, set) \
  { name, fallback, &plain<&VisaInfo::get>, &VisaInfo::set }
const IntSetting kIntSettings[] = {
    PLAIN("MaxSessNbr", 256, getConfigMaxNbrOfSess, setConfigMaxNbrOfSess),
    PLAIN("MaxNbrOfProcs", 64, getConfigMaxNbrOfProcs, setConfigMaxNbrOfProcs),
    PLAIN("CreateOnOpen", 1, getCreateOnOpenMode, setCreateOnOpenMode),
    {"Spec Version", 0, &viaBuffer<&VisaInfo::getSpecVersion>, &VisaInfo::setSpecVersion},
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

// The accessors write their stored names ("Spec Version" with its blank),
// read back by a new record and the sqlite3 client; setLogMode writes only
// the three keywords.
TEST(VisaInfoSQLite, EveryAccessorWritesItsStoredNameAndReadsItBack) {
  pdatest::TempMachine machine;
  const std::string db = installWithDatabase(machine);
  {
    VisaInfo record(SQLiteDataSource);
    std::size_t index = 0;
    for (const IntSetting& s : kIntSettings) {
      EXPECT_EQ(s.defaultValue, s.get(record)) << s.storedName;
      EXPECT_NE(0, (record.*s.set)(valueFor(index++)));
    }
    for (const StringSetting& s : kStringSettings) {
      EXPECT_EQ(s.defaultValue, readString(record, s.get)) << s.storedName;
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
  const std::pair<int, const char*> modes[] = {{2, "EVENTVIEWER"}, {3, "DEBUGGER"}, {7, "OFF"}};
  for (const auto& c : modes) {
    EXPECT_NE(0, again.setLogMode(static_cast<visaLoggingMode>(c.first)));
    EXPECT_EQ(c.second, storedValue(db)) << c.first;
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
  std::vector<int> results(8, -1);
  pdatest::together(8, [&](int t) { results[t] = VisaInfo::getVisaLoggingMode(); });
  for (int mode : results) EXPECT_EQ(LogModeDebugger, mode);
}

#if !defined(_WIN32)
// The answer is read once and kept: a child started before anything is
// cached, that asks after the parent's answer and a change of the stored
// mode, sees the change; the parent keeps its answer.
TEST(VisaLogModeCache, OtherProcessesSeeChangesOnlyUntilTheyAsk) {
  pdatest::TempMachine machine;
  const std::string db = installWithDatabase(machine);
  setStoredLogging(db, "DEBUGGER");
  int go[2];
  ASSERT_EQ(0, pipe(go));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // never runs the parent's destructors
    char c = 0;
    _exit(read(go[0], &c, 1) == 1 ? VisaInfo::getVisaLoggingMode() : 100);
  }
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
  setStoredLogging(db, "EVENTVIEWER");
  ASSERT_EQ(1, write(go[1], "g", 1));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == LogModeEventViewer) << status;
  EXPECT_EQ(LogModeDebugger, VisaInfo::getVisaLoggingMode());
}
#endif

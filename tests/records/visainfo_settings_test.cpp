// The VISA settings record: every accessor's stored name, default and
// round trip on the SQLite and registry stores, and the record without a store.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pda/IKestBase.h"
#include "pda/VisaInfo.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"

namespace {

const char kVisaKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion\\VISAInfo";

struct IntSetting {
  const char* storedName;
  int defaultValue;
  int (VisaInfo::*get)();
  int (VisaInfo::*set)(int);
};

// The three identification numbers take a buffer they never touch; wrap
// them so that the table below can treat every number alike, and check the
// buffer on the way.
template <int (VisaInfo::*Getter)(char*, unsigned int)>
int viaBuffer(VisaInfo& record) {
  char buffer[16] = "untouched";
  int value = (record.*Getter)(buffer, sizeof buffer);
  EXPECT_STREQ("untouched", buffer);
  return value;
}

struct BufferedIntSetting {
  const char* storedName;
  int (*get)(VisaInfo&);
  int (VisaInfo::*set)(int);
};

struct StringSetting {
  const char* storedName;
  const char* defaultValue;
  void (VisaInfo::*get)(char*, unsigned int);
  int (VisaInfo::*set)(char*);
};

const IntSetting kIntSettings[] = {
    {"MaxSessNbr", 256, &VisaInfo::getConfigMaxNbrOfSess, &VisaInfo::setConfigMaxNbrOfSess},
    {"MaxNbrOfProcs", 64, &VisaInfo::getConfigMaxNbrOfProcs, &VisaInfo::setConfigMaxNbrOfProcs},
    {"DefaultQSize", 50, &VisaInfo::getDefaultQSize, &VisaInfo::setDefaultQSize},
    {"CreateOnOpen", 1, &VisaInfo::getCreateOnOpenMode, &VisaInfo::setCreateOnOpenMode},
    {"LoggingVerboseLevel", 0, &VisaInfo::getLoggingVerboseLevel,
     &VisaInfo::setLoggingVerboseLevel},
    {"YieldMode", 0, &VisaInfo::getYieldMode, &VisaInfo::setYieldMode},
    {"SleepMs", 0, &VisaInfo::getSleepMs, &VisaInfo::setSleepMs},
    {"DefaultLockWait", 0, &VisaInfo::getDefaultLockWait, &VisaInfo::setDefaultLockWait},
    {"DefaultAllowLocalSpaceFifo", 0, &VisaInfo::getDefaultAllowLocalSpaceFifo,
     &VisaInfo::setDefaultAllowLocalSpaceFifo},
    {"AutoConfigAsrlInstr", 0, &VisaInfo::getAutoConfigAsrlInstr,
     &VisaInfo::setAutoConfigAsrlInstr},
};

const BufferedIntSetting kBufferedSettings[] = {
    {"Spec Version", &viaBuffer<&VisaInfo::getSpecVersion>, &VisaInfo::setSpecVersion},
    {"ManfVersionNbr", &viaBuffer<&VisaInfo::getManfVersionNbr>, &VisaInfo::setManfVersionNbr},
    {"ManfID", &viaBuffer<&VisaInfo::getManfID>, &VisaInfo::setManfID},
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

std::string storedValue(const std::string& db, const std::string& name) {
  std::string out = pdatest::sqlite(
      db, "SELECT VALUE FROM VisaInfo WHERE NAME = " + pdatest::sqlQuote(name) + ";");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

void expectDefaults(VisaInfo& record) {
  for (const IntSetting& s : kIntSettings) {
    SCOPED_TRACE(s.storedName);
    EXPECT_EQ(s.defaultValue, (record.*s.get)());
  }
  for (const BufferedIntSetting& s : kBufferedSettings) {
    SCOPED_TRACE(s.storedName);
    EXPECT_EQ(0, s.get(record));
  }
  for (const StringSetting& s : kStringSettings) {
    SCOPED_TRACE(s.storedName);
    EXPECT_EQ(s.defaultValue, readString(record, s.get));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Records without stored values.

TEST(VisaInfoDefaults, WrenHasNoStoreAndRefusesEveryWrite) {
  pdatest::TempMachine machine;
  VisaInfo record(WrenDataSource);
  EXPECT_EQ(WrenDataSource, record.getDataSource());
  EXPECT_EQ(nullptr, record.getIKestBase());
  expectDefaults(record);
  EXPECT_EQ(0, record.setConfigMaxNbrOfSess(3));
  EXPECT_EQ(256, record.getConfigMaxNbrOfSess());
  char text[] = "Maker";
  EXPECT_EQ(0, record.setManufacturer(text));
  EXPECT_EQ(0, record.setLogMode(LogModeDebugger));
  EXPECT_EQ(LogModeOff, record.getLogMode());
}

// ---------------------------------------------------------------------------
// SQLite store.

TEST(VisaInfoSQLite, EveryAccessorWritesItsStoredNameAndReadsItBack) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  {
    VisaInfo record(SQLiteDataSource);
    expectDefaults(record);
    std::size_t index = 0;
    for (const IntSetting& s : kIntSettings) {
      SCOPED_TRACE(s.storedName);
      EXPECT_NE(0, (record.*s.set)(valueFor(index)));
      EXPECT_EQ(valueFor(index), (record.*s.get)());
      ++index;
    }
    for (const BufferedIntSetting& s : kBufferedSettings) {
      SCOPED_TRACE(s.storedName);
      EXPECT_NE(0, (record.*s.set)(valueFor(index)));
      EXPECT_EQ(valueFor(index), s.get(record));
      ++index;
    }
    for (const StringSetting& s : kStringSettings) {
      SCOPED_TRACE(s.storedName);
      std::string text = std::string("text of ") + s.storedName + " (set)";
      EXPECT_NE(0, (record.*s.set)(&text[0]));
      EXPECT_EQ(text, readString(record, s.get));
    }
  }

  // The database holds exactly the stored names, "Spec Version" with its blank.
  std::size_t index = 0;
  for (const IntSetting& s : kIntSettings)
    EXPECT_EQ(std::to_string(valueFor(index++)), storedValue(db, s.storedName)) << s.storedName;
  for (const BufferedIntSetting& s : kBufferedSettings)
    EXPECT_EQ(std::to_string(valueFor(index++)), storedValue(db, s.storedName)) << s.storedName;
  for (const StringSetting& s : kStringSettings)
    EXPECT_EQ(std::string("text of ") + s.storedName + " (set)", storedValue(db, s.storedName));
  EXPECT_EQ("", storedValue(db, "SpecVersion"));

  // A new record reads them back from the file.
  VisaInfo again(SQLiteDataSource);
  index = 0;
  for (const IntSetting& s : kIntSettings) EXPECT_EQ(valueFor(index++), (again.*s.get)());
  for (const BufferedIntSetting& s : kBufferedSettings) EXPECT_EQ(valueFor(index++), s.get(again));
}

TEST(VisaInfoSQLite, ValuesWrittenByOtherProgramsAreReadAsStored) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db,
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('spec version', '5');"
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('MaxSessNbr', '0');"
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('MaxNbrOfProcs', '');"
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('DefaultQSize', '99999999999');"
                  "INSERT INTO VisaInfo(NAME, VALUE) VALUES('MANUFACTURER', 'Tessaro');");
  VisaInfo record(SQLiteDataSource);
  char buffer[8] = "keep";
  EXPECT_EQ(5, record.getSpecVersion(buffer, sizeof buffer));
  EXPECT_STREQ("keep", buffer);
  EXPECT_EQ(0, record.getConfigMaxNbrOfSess());     // stored 0 is no missing value
  EXPECT_EQ(64, record.getConfigMaxNbrOfProcs());   // empty text reads as missing
  EXPECT_EQ(2147483647, record.getDefaultQSize());  // saturates, no range check
  EXPECT_EQ("Tessaro", readString(record, &VisaInfo::getManufacturer));
}

// ---------------------------------------------------------------------------
// Registry store: the "VISAInfo" key.

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
  // Numbers are REG_DWORD values in the registry.
  ASSERT_TRUE(pdatest::regGet(kVisaKey, "Spec Version", &type, &bytes));
  EXPECT_EQ(static_cast<unsigned int>(REG_DWORD), type);
  ASSERT_EQ(4u, bytes.size());
  EXPECT_EQ(7, static_cast<unsigned char>(bytes[0]));
  ASSERT_TRUE(pdatest::regGet(kVisaKey, "Logging", &type, &bytes));
  EXPECT_EQ(std::string("EVENTVIEWER"), std::string(bytes.c_str()));

  VisaInfo fresh(RegistryDataSource);
  EXPECT_EQ(7, fresh.getSpecVersion(buffer, sizeof buffer));
  EXPECT_EQ(LogModeEventViewer, fresh.getLogMode());
}

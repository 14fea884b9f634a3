// Bad input to the typed records, on every store: string buffers of 0 and 1
// bytes, null names, buffers and values, names and values of 1,024
// characters and more, and records without a store. Every result is the
// documented one, nothing is written past a buffer and nothing is cut short.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pda/KestAliases.h"
#include "pda/KestConfig.h"
#include "pda/KestInfo.h"
#include "pda/VisaInfo.h"
#include "support/Fixtures.h"

namespace {

const char* const kSettingsKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

// An installed suite whose settings hold "DmcLoggingLevel" = "FULL" in the
// registry and in the database.
void installWithSettings(const pdatest::TempMachine& machine) {
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(
      db,
      "INSERT INTO KestInfo VALUES(NULL, 'DmcLoggingLevel', 'FULL');"
      "INSERT INTO InstrAliasInfo VALUES(NULL, 'scope', 'AliasVisaId', 'GPIB0::7::INSTR');");
  pdatest::regSetString(kSettingsKey, "DmcLoggingLevel", "FULL");
}

const DataSource kStores[] = {DeviceIoDataSource, RegistryDataSource, SQLiteDataSource};

}  // namespace

// A buffer of 0 bytes gets its first byte cleared and nothing more (the
// caller's buffer holds at least that byte); a buffer of 1 byte holds only
// the terminator; a text that does not fit whole is never cut.
TEST(RecordsBadInput, StringBuffersOfZeroAndOneByteOnEveryStore) {
  pdatest::TempMachine machine;
  installWithSettings(machine);
  for (DataSource source : kStores) {
    SCOPED_TRACE(KestRecord::getDataSourceString(source));
    KestInfo info(source);
    char b[6] = {'#', '#', '#', '#', '#', '#'};
    info.getDmcLoggingLevel(b, 0);
    EXPECT_EQ(b[0], '\0');
    EXPECT_EQ(b[1], '#');
    b[0] = '#';
    info.getDmcLoggingLevel(b, 1);
    EXPECT_EQ(b[0], '\0');
    EXPECT_EQ(b[1], '#');
    info.getDmcLoggingLevel(b, 3);  // "FULL" and "OFF" both need more
    EXPECT_EQ(b[0], '\0');
    EXPECT_EQ(b[3], '#');
    info.getDmcLoggingLevel(b, sizeof b);
    const std::string whole = b;
    EXPECT_TRUE(whole == "FULL" || whole == "OFF") << whole;
    EXPECT_EQ(b[5], '#');
  }

  // A getter drops an empty value even when its buffer takes nothing.
  KestInfo info(DeviceIoDataSource);
  ASSERT_EQ(info.setValueString("Empty", ""), 1);
  ASSERT_EQ(info.getIKestBase()->rawNameValueMap().count("Empty"), 1u);
  char b[1] = {'#'};
  info.getValueString("Empty", b, 0, "dflt");
  EXPECT_EQ(b[0], '\0');
  EXPECT_EQ(info.getIKestBase()->rawNameValueMap().count("Empty"), 0u);
  // A record without a store answers every read with the caller's default
  // (whole or "", as the buffer allows; with a size of 0 only the first byte
  // is written, as the node does) and every write with 0.
  KestInfo none(WrenDataSource);
  ASSERT_EQ(none.getIKestBase(), nullptr);
  EXPECT_EQ(none.getInstallLevel(), 256);
  EXPECT_EQ(none.setHiddenMode(1), 0);
  EXPECT_EQ(none.setValueString("Name", "value"), 0);
  char d[5] = {'#', '#', '#', '#', '#'};
  none.getValueString("Name", d, 0, "dflt");
  EXPECT_EQ(d[0], '\0');
  EXPECT_EQ(d[1], '#');
  d[0] = '#';
  none.getValueString("Name", d, 4, "dflt");
  EXPECT_EQ(d[0], '\0');
  EXPECT_EQ(d[4], '#');
  none.getValueString("Name", d, 5, "dflt");
  EXPECT_STREQ(d, "dflt");
  none.getValueString("Name", nullptr, 5, "dflt");  // no buffer: nothing to write

  KestInfo outOfRange(static_cast<DataSource>(77));
  EXPECT_EQ(outOfRange.getIKestBase(), nullptr);
  EXPECT_STREQ(outOfRange.getDataSourceString(), "InvalidDataSource");
  EXPECT_EQ(outOfRange.getInstallLevel(), 256);
}

// Null names, buffers and values, where the library decides the guard: a
// null name reads as nothing (the default, or "" for a string) and is never
// stored; a null buffer is left alone.
TEST(RecordsBadInput, NullArgumentsAndLongTextsOnEveryStore) {
  pdatest::TempMachine machine;
  installWithSettings(machine);
  for (DataSource source : kStores) {
    SCOPED_TRACE(KestRecord::getDataSourceString(source));
    KestInfo info(source);
    EXPECT_EQ(info.getValueInt32(nullptr, 5), 5);
    EXPECT_EQ(info.getValueBool(nullptr, 3), 3);
    char b[8] = "#######";
    info.getValueString(nullptr, b, sizeof b, "dflt");
    EXPECT_STREQ(b, "");
    info.getValueString("DmcLoggingLevel", nullptr, 8, "dflt");
    EXPECT_EQ(info.setValueString(nullptr, "x"), 0);
    EXPECT_EQ(info.setValueInt32(nullptr, 1), 0);
    EXPECT_EQ(info.setValueBool(nullptr, 1), 0);
    // A null value leaves the setting without a text (stored as "" or
    // removed, as each store keeps it): it reads as its default again.
    EXPECT_EQ(info.setDmcLoggingLevel(nullptr), 1);
    char level[8] = "#######";
    info.getDmcLoggingLevel(level, sizeof level);
    EXPECT_STREQ(level, "OFF");
    KestInfo fresh(source);
    fresh.getDmcLoggingLevel(level, sizeof level);
    EXPECT_STREQ(level, "OFF");
  }

  KestAliases aliases(SQLiteDataSource);
  char address[32] = "#";
  EXPECT_EQ(aliases.unaliasVisaAddress(nullptr, address, sizeof address), 0);
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", nullptr, 10), 0);
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", address, sizeof address), 1);
  EXPECT_STREQ(address, "GPIB0::7::INSTR");
  EXPECT_EQ(aliases.getVisaAliasByIndex(0, nullptr, 0, nullptr, 0), 1);

  KestConfig config(SQLiteDataSource);
  IKestBase* own = config.kestBase();
  config.setKestBase(nullptr);
  EXPECT_EQ(config.kestBase(), own);
  EXPECT_FALSE(config.isKestBaseSet());
  // Alias buffers of 0 and 1 byte: never written partially, never past
  // their end; a size of 0 is not written at all.
  char b[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", b, 0), 0);
  EXPECT_EQ(b[0], '#');
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", b, 1), 0);
  EXPECT_EQ(b[0], '\0');
  EXPECT_EQ(b[1], '#');
  char alias[1] = {'#'};
  char target[1] = {'#'};
  aliases.getVisaAliasByIndex(0, alias, 1, target, 1);
  EXPECT_EQ(alias[0], '\0');
  EXPECT_EQ(target[0], '\0');
  EXPECT_EQ(aliases.getVisaAliasByIndex(-5, alias, 0, target, 0), 1);
  EXPECT_EQ(aliases.getVisaAliasByIndex(1 << 30, alias, 1, target, 1), 0);
  // Names and values of 1,024 characters and more, through the records of
  // the database and the built-in defaults: stored and read back whole.
  const std::string name(1024, 'n');
  const std::string value = std::string(5000, 'v') + "'";
  for (DataSource source : {SQLiteDataSource, DeviceIoDataSource}) {
    SCOPED_TRACE(KestRecord::getDataSourceString(source));
    VisaInfo info(source);
    ASSERT_EQ(info.setValueString(name.c_str(), value.c_str()), 1);
    std::vector<char> buffer(value.size() + 1);
    info.getValueString(name.c_str(), buffer.data(), static_cast<unsigned>(buffer.size()), "");
    EXPECT_EQ(std::string(buffer.data()), value);
    info.getValueString(name.c_str(), buffer.data(), static_cast<unsigned>(value.size()), "");
    EXPECT_STREQ(buffer.data(), "") << "a value that does not fit was cut";
  }
  VisaInfo fresh(SQLiteDataSource);
  std::vector<char> buffer(value.size() + 1);
  fresh.getValueString(std::string(1024, 'N').c_str(), buffer.data(),
                       static_cast<unsigned>(buffer.size()), "");
  EXPECT_EQ(std::string(buffer.data()), value);
}

// Bad input to the typed records: a null value on every store, null names
// and buffers of 0 and 1 byte for aliases, a data source out of range.

#include <gtest/gtest.h>

#include <string>

#include "pda/KestAliases.h"
#include "pda/KestInfo.h"
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

// A null value leaves the setting without a text (stored as "" or removed,
// as each store keeps it): a new record reads its default. Alias buffers of
// 0 and 1 byte are never written partially or past their end (a size of 0
// not at all); null names and buffers are refused.
TEST(RecordsBadInput, NullValuesAliasBuffersAndSourcesOutOfRange) {
  pdatest::TempMachine machine;
  installWithSettings(machine);
  for (DataSource source : kStores) {
    SCOPED_TRACE(KestRecord::getDataSourceString(source));
    KestInfo info(source);
    EXPECT_EQ(info.setDmcLoggingLevel(nullptr), 1);
    char level[8] = "#######";
    info.getDmcLoggingLevel(level, sizeof level);
    EXPECT_STREQ(level, "OFF");
    KestInfo(source).getDmcLoggingLevel(level, sizeof level);
    EXPECT_STREQ(level, "OFF");
  }
  KestAliases aliases(SQLiteDataSource);
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", nullptr, 10), 0);
  EXPECT_EQ(aliases.getVisaAliasByIndex(0, nullptr, 0, nullptr, 0), 1);
  char b[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", b, 0), 0);
  EXPECT_EQ(b[0], '#');
  EXPECT_EQ(aliases.unaliasVisaAddress("scope", b, 1), 0);
  EXPECT_EQ(b[0], '\0');
  EXPECT_EQ(b[1], '#');
  char alias[1] = {'#'};
  char target[1] = {'#'};
  EXPECT_EQ(aliases.getVisaAliasByIndex(0, alias, 1, target, 1), 1);
  EXPECT_EQ(alias[0], '\0');
  EXPECT_EQ(target[0], '\0');
  KestInfo outOfRange(static_cast<DataSource>(77));
  EXPECT_EQ(outOfRange.getIKestBase(), nullptr);
  EXPECT_STREQ(outOfRange.getDataSourceString(), "InvalidDataSource");
}

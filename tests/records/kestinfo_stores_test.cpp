// The settings record on the real stores: the registry of the emulated
// machine and the SQLite configuration database, checked from outside with
// the registry calls and the sqlite3 client.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pda/KestInfo.h"
#include "pda/KestRegistry.h"
#include "pda/KestSQLite.h"
#include "pda/Win32.h"
#include "support/Fixtures.h"

namespace {

const char* const kSettingsKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

std::string registryText(const char* name) {
  unsigned int type = 0;
  std::string bytes;
  if (!pdatest::regGet(kSettingsKey, name, &type, &bytes)) return "<none>";
  return std::string(bytes.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------
// Registry

TEST(KestInfoRegistry, ReadsAndWritesTheSuitesSettingsKey) {
  pdatest::TempMachine machine;
  pdatest::regSetDword(kSettingsKey, "InstallLevel", 3);
  pdatest::regSetString(kSettingsKey, "DmcLoggingLevel", "WARN");

  KestInfo record(RegistryDataSource);
  EXPECT_EQ(record.getDataSource(), RegistryDataSource);
  ASSERT_NE(dynamic_cast<KestRegistry*>(record.getIKestBase()), nullptr);
  EXPECT_EQ(record.getInstallLevel(), 3);
  char level[16];
  record.getDmcLoggingLevel(level, sizeof level);
  EXPECT_STREQ(level, "WARN");
  EXPECT_EQ(record.getVtl488WarningDisabled(), 99);  // not stored

  EXPECT_EQ(record.setHiddenMode(1), 1);
  EXPECT_EQ(record.setVisaPxiImplementation(4), 1);
  EXPECT_NE(registryText("IOControlHidden"), "<none>");

  // A second record reads what the first wrote, from the registry.
  KestInfo again(RegistryDataSource);
  EXPECT_EQ(again.getHiddenMode(), 1);
  EXPECT_EQ(again.getVisaPxiImplementation(), 4);
}

#if !defined(_WIN32)
// The stand-in's switch for a process without write rights.
TEST(KestInfoRegistry, WritesFailWithoutWriteAccess) {
  pdatest::TempMachine machine;
  pdatest::regSetDword(kSettingsKey, "AutoStartIOServer", 2);
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  KestInfo record(RegistryDataSource);
  EXPECT_EQ(record.getAutoStartIOServer(), 2);
  EXPECT_EQ(record.setAutoStartIOServer(5), 0);
  EXPECT_EQ(record.getAutoStartIOServer(), 2);
  unsetenv("PDA_REGISTRY_READONLY");
  unsigned int type = 0;
  std::string bytes;
  ASSERT_TRUE(pdatest::regGet(kSettingsKey, "AutoStartIOServer", &type, &bytes));
  EXPECT_EQ(type, static_cast<unsigned int>(REG_DWORD));
  EXPECT_EQ(bytes, std::string("\x02\0\0\0", 4));  // untouched
}
#endif

// ---------------------------------------------------------------------------
// SQLite

TEST(KestInfoSQLite, ReadsAndWritesTheKestInfoTable) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db,
                  "INSERT INTO KestInfo(NAME, VALUE) VALUES('InstallLevel', '17');"
                  "INSERT INTO KestInfo(NAME, VALUE) VALUES('CurrentVersion', '5.4.3.2');"
                  "INSERT INTO KestInfo(NAME, VALUE) VALUES('CustomBuild', 'Lab build');");

  KestInfo record(SQLiteDataSource);
  ASSERT_NE(dynamic_cast<KestSQLite*>(record.getIKestBase()), nullptr);
  EXPECT_EQ(record.getInstallLevel(), 17);
  EXPECT_STREQ(record.getProductVersionString(), "5.4.3.2 Lab build");

  EXPECT_EQ(record.setDmcLoggingLevel("ALL"), 1);
  EXPECT_EQ(record.setRebootOccurred(1), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo WHERE NAME='DmcLoggingLevel';"),
            "ALL\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo WHERE NAME='RebootOccurred';"),
            "True\n");
}

TEST(KestInfoSQLite, DefaultStoreOfAnInstalledSuiteIsTheDatabase) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db, "INSERT INTO KestInfo(NAME, VALUE) VALUES('Max1394Speed', '400');");
  KestInfo record;
  EXPECT_EQ(record.getDataSource(), SQLiteDataSource);
  EXPECT_EQ(record.getMax1394Speed(), 400);
  EXPECT_EQ(record.getPxiDmaInThreshold(), 48);
}

TEST(KestInfoSQLite, MissingDatabaseGivesDefaultsAndFailedWrites) {
  pdatest::TempMachine machine;
  machine.installSuite();
  KestInfo record(SQLiteDataSource);
  EXPECT_EQ(record.getInstallLevel(), 256);
  EXPECT_STREQ(record.getProductVersionString(), "");
  EXPECT_EQ(record.setHiddenMode(1), 0);
  EXPECT_EQ(record.getHiddenMode(), 0);
}

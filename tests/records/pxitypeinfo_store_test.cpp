// The PXI type record: always the SQLite store of its own table in the
// remote PXI database, whatever the process-wide default store is.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "TestAccess.h"
#include "pda/KestConfig.h"
#include "pda/KestRecord.h"
#include "pda/KestSQLite.h"
#include "platform/platform.h"
#include "support/Fixtures.h"

namespace {

const char kSwitchKey[] = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// An installed suite whose registry switch makes the registry the default.
void installOnRegistry(const pdatest::TempMachine& machine) {
  machine.installSuite();
  pdatest::regSetString(kSwitchKey, "_UseRegistryForPersistedData", "True");
}

}  // namespace

TEST(PxiTypeInfoStore, ChassisStaysOnSQLiteWhenTheDefaultIsTheRegistry) {
  pdatest::TempMachine machine;
  installOnRegistry(machine);
  ASSERT_EQ(RegistryDataSource, KestRecord::getGlobalDefaultDataSource());

  PxiTypeInfo chassis(ChassisBaseType);
  EXPECT_EQ(SQLiteDataSource, chassis.getDataSource());
  EXPECT_EQ(ChassisBaseType, chassis.baseType());
  auto* node = dynamic_cast<KestSQLite*>(chassis.getIKestBase());
  ASSERT_NE(nullptr, node);
  EXPECT_EQ(ChassisBaseType, node->baseType());
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  const std::string path = node->getDbPath();
  ASSERT_GE(path.size(), 13u);
  EXPECT_EQ(path.substr(path.size() - 13), std::string(PDA_PATH_SEP "RemotePXI.db"));
  EXPECT_TRUE(fileExists(db));

  node->setRecordId("SN-0042");
  EXPECT_NE(0, chassis.setValueString("Model", "M9019A"));
  EXPECT_EQ("SN-0042|Model|M9019A\n",
            pdatest::sqlite(db, "SELECT IDKEY, NAME, VALUE FROM Chassis;"));
}

TEST(PxiTypeInfoStore, PciBusesReadAndWriteTheirRows) {
  pdatest::TempMachine machine;
  installOnRegistry(machine);
  {
    PxiTypeInfo buses(PciBusesBaseType);
    EXPECT_EQ(0, buses.getValueInt32("Bus4", -1));   // initial rows of a new database
    EXPECT_EQ(-1, buses.getValueInt32("Bus5", -1));  // odd numbers are not there
    EXPECT_NE(0, buses.setValueInt32("Bus4", 1));
  }
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  EXPECT_EQ("1\n", pdatest::sqlite(db, "SELECT VALUE FROM PciBuses WHERE NAME = 'Bus4';"));
  PxiTypeInfo again(PciBusesBaseType);
  EXPECT_EQ(1, again.getValueInt32("bus4", -1));
}

TEST(PxiTypeInfoStore, EveryPxiTypeGetsItsOwnTable) {
  pdatest::TempMachine machine;
  machine.installSuite();
  for (KestBaseType type :
       {ChassisBaseType, PModulesBaseType, SModulesBaseType, PciBusesBaseType}) {
    SCOPED_TRACE(type);
    PxiTypeInfo record(type);
    auto* node = dynamic_cast<KestSQLite*>(record.getIKestBase());
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(type, node->baseType());
  }
}

TEST(PxiTypeInfoStore, TypesOutsideThePxiTablesGetNoStore) {
  pdatest::TempMachine machine;
  machine.installSuite();
  machine.createConfigDatabase();
  for (int value : {0, 1, 5, 6, 11, 15}) {
    SCOPED_TRACE(value);
    PxiTypeInfo record(static_cast<KestBaseType>(value));
    EXPECT_EQ(nullptr, record.getIKestBase());
    EXPECT_EQ(SQLiteDataSource, record.getDataSource());
    EXPECT_EQ(17, record.getValueInt32("InstallLevel", 17));
    EXPECT_EQ(0, record.setValueString("InstallLevel", "1"));
    PdaTestAccess::PxiTypeInfo_initializeDataSource(record, SQLiteDataSource);
    EXPECT_EQ(nullptr, record.getIKestBase());
  }
  // Nothing was written to the configuration database, nor a PXI database made.
  EXPECT_EQ("", pdatest::sqlite(machine.dataDir() + "Quillon.db", "SELECT * FROM KestInfo;"));
  EXPECT_FALSE(fileExists(machine.pxiDir() + "RemotePXI.db"));
}

TEST(PxiTypeInfoStore, InitializeDataSourceReplacesAndReleasesTheTree) {
  pdatest::TempMachine machine;
  installOnRegistry(machine);
  PxiTypeInfo record(SModulesBaseType);
  IKestBase* old = record.getIKestBase();
  ASSERT_NE(nullptr, old);
  PxiTypeInfo sharer(record);  // a copy keeps the old tree alive
  EXPECT_EQ(2, old->referenceCount());

  PdaTestAccess::PxiTypeInfo_initializeDataSource(record, UnknownDataSource);
  EXPECT_EQ(RegistryDataSource, record.getDataSource());  // recorded as resolved
  auto* fresh = dynamic_cast<KestSQLite*>(record.getIKestBase());
  ASSERT_NE(nullptr, fresh);
  EXPECT_NE(old, fresh);
  EXPECT_EQ(SModulesBaseType, fresh->baseType());
  EXPECT_EQ(1, old->referenceCount());  // this record's reference was dropped
  EXPECT_EQ(old, sharer.getIKestBase());

  PdaTestAccess::PxiTypeInfo_initializeDataSource(record, DeviceIoDataSource);
  EXPECT_EQ(DeviceIoDataSource, record.getDataSource());
  EXPECT_NE(nullptr, dynamic_cast<KestSQLite*>(record.getIKestBase()));
}

TEST(PxiTypeInfoStore, CopiesAndAssignmentShareTheTree) {
  pdatest::TempMachine machine;
  machine.installSuite();
  auto* original = new PxiTypeInfo(PciBusesBaseType);
  PxiTypeInfo copy(*original);
  PxiTypeInfo assigned(ChassisBaseType);
  assigned = *original;
  EXPECT_EQ(PciBusesBaseType, assigned.baseType());
  EXPECT_EQ(original->getIKestBase(), assigned.getIKestBase());
  delete original;
  EXPECT_NE(0, copy.setValueInt32("Bus2", 3));
  EXPECT_EQ(3, assigned.getValueInt32("Bus2", -1));
}

// The PXI type record: always the SQLite store of its own table in the
// remote PXI database, whatever the process-wide default store is.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "TestAccess.h"
#include "pda/KestConfig.h"
#include "pda/KestRecord.h"
#include "pda/KestSQLite.h"
#include "support/Fixtures.h"

namespace {

bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

// Every PXI type gets its own table of the remote PXI database, also when
// the registry switch makes the registry the default; copies share the tree,
// and initializing the data source again builds a new one.
TEST(PxiTypeInfoStore, EveryPxiTypeStaysOnItsTableWhenTheDefaultIsTheRegistry) {
  pdatest::TempMachine machine;
  machine.installSuite();
  pdatest::regSetString("SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion",
                        "_UseRegistryForPersistedData", "True");
  ASSERT_EQ(RegistryDataSource, KestRecord::getGlobalDefaultDataSource());
  for (KestBaseType type :
       {ChassisBaseType, PModulesBaseType, SModulesBaseType, PciBusesBaseType}) {
    SCOPED_TRACE(type);
    PxiTypeInfo record(type);
    EXPECT_EQ(SQLiteDataSource, record.getDataSource());
    auto* node = dynamic_cast<KestSQLite*>(record.getIKestBase());
    ASSERT_NE(nullptr, node);
    EXPECT_EQ(type, node->baseType());
  }
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  PxiTypeInfo chassis(ChassisBaseType);
  dynamic_cast<KestSQLite*>(chassis.getIKestBase())->setRecordId("SN-0042");
  EXPECT_NE(0, chassis.setValueString("Model", "M9019A"));
  EXPECT_EQ("SN-0042|Model|M9019A\n",
            pdatest::sqlite(db, "SELECT IDKEY, NAME, VALUE FROM Chassis;"));

  auto* original = new PxiTypeInfo(PciBusesBaseType);
  PxiTypeInfo copy(*original);
  PxiTypeInfo assigned(ChassisBaseType);
  assigned = *original;
  EXPECT_EQ(PciBusesBaseType, assigned.baseType());
  EXPECT_EQ(PciBusesBaseType, copy.baseType());
  EXPECT_EQ(original->getIKestBase(), assigned.getIKestBase());
  delete original;
  EXPECT_NE(0, copy.setValueInt32("Bus2", 3));
  EXPECT_EQ("3\n", pdatest::sqlite(db, "SELECT VALUE FROM PciBuses WHERE NAME = 'Bus2';"));

  PxiTypeInfo record(SModulesBaseType);
  IKestBase* old = record.getIKestBase();
  PxiTypeInfo sharer(record);  // a copy keeps the old tree alive
  EXPECT_EQ(2, old->referenceCount());
  PdaTestAccess::PxiTypeInfo_initializeDataSource(record, UnknownDataSource);
  EXPECT_EQ(RegistryDataSource, record.getDataSource());  // recorded as resolved
  auto* fresh = dynamic_cast<KestSQLite*>(record.getIKestBase());
  ASSERT_NE(nullptr, fresh);
  EXPECT_NE(old, fresh);
  EXPECT_EQ(SModulesBaseType, fresh->baseType());
  EXPECT_EQ(1, old->referenceCount());  // this record's reference was dropped
  PdaTestAccess::PxiTypeInfo_initializeDataSource(record, DeviceIoDataSource);
  EXPECT_EQ(DeviceIoDataSource, record.getDataSource());
  EXPECT_NE(nullptr, dynamic_cast<KestSQLite*>(record.getIKestBase()));
}

TEST(PxiTypeInfoStore, TypesOutsideThePxiTablesGetNoStore) {
  pdatest::TempMachine machine;
  machine.installSuite();
  for (int value : {0, 6, 11}) {
    SCOPED_TRACE(value);
    PxiTypeInfo record(static_cast<KestBaseType>(value));
    EXPECT_EQ(nullptr, record.getIKestBase());
    EXPECT_EQ(SQLiteDataSource, record.getDataSource());
    PdaTestAccess::PxiTypeInfo_initializeDataSource(record, SQLiteDataSource);
    EXPECT_EQ(nullptr, record.getIKestBase());
  }
  EXPECT_FALSE(fileExists(machine.pxiDir() + "RemotePXI.db"));
}

// The records of the configuration tree: the configuration record (its store
// on every data source, the replacement of the node in use by setKestBase /
// resetKestBase, and the lifetime of every node involved: each destroyed
// exactly once, run under ASan to see double frees), the remote-session
// parameters, the PXI type record (always the SQLite store of its own table
// in the remote PXI database) and the instrument favourites.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestAccess.h"
#include "pda/KestConfig.h"
#include "pda/KestDeviceIoConfig.h"
#include "pda/KestRecord.h"
#include "pda/KestSQLite.h"
#include "support/Fixtures.h"

namespace {

// A real built-in-defaults node that counts its own destruction.
class CountedNode : public KestDeviceIoConfig {
 public:
  CountedNode(const KestDeviceIoConfig& from, int* destroyed)
      : KestDeviceIoConfig(from), _destroyed(destroyed) {}
  ~CountedNode() override { ++*_destroyed; }

 private:
  int* _destroyed;
};

// A caller's node holding one value "Marker" = marker; the caller owns the
// one reference it starts with.
CountedNode* makeCallerNode(const char* marker, int* destroyed) {
  KestDeviceIoConfig* source = KestDeviceIoConfig::CreateInstance(VisaInfoBaseType);
  CountedNode* node = new CountedNode(*source, destroyed);
  IKestBase::releaseNode(source);
  node->setValueString("Marker", marker);
  return node;
}

std::string read(KestRecord& record, const char* name = "Marker") {
  char buffer[256];
  record.getValueString(name, buffer, sizeof buffer, "none");
  return buffer;
}

}  // namespace

// setKestBase / resetKestBase, copies, assignment and re-initialization:
// where writes go, and the references of the caller's and the own nodes
// (each let go exactly once, never while in use); reInitialize rebuilds the
// built-in store.
TEST(KestConfigNodes, ReplacementAndLifetimeFollowTheStateTable) {
  pdatest::TempMachine machine;
  int destroyedA = 0, destroyedB = 0;
  CountedNode* a = makeCallerNode("A", &destroyedA);
  CountedNode* b = makeCallerNode("B", &destroyedB);
  IKestBase* own = nullptr;
  {
    KestConfig config;  // not installed: the built-in store
    own = config.kestBase();
    EXPECT_NE(0, config.setValueString("Scratch", "1"));
    config.reInitialize();
    EXPECT_EQ(0, config.getValueInt32("Scratch", 0));
    config.setKestBase(a);
    EXPECT_EQ(2, a->referenceCount());
    EXPECT_EQ(1, own->referenceCount());  // kept aside, not shared
    EXPECT_NE(0, config.setValueInt32("Written", 42));
    EXPECT_EQ(42, a->getValueInt32("Written", -1));
    config.setKestBase(b);
    EXPECT_EQ(1, a->referenceCount());  // let go, not destroyed
    config.setKestBase(nullptr);
    EXPECT_EQ("B", read(config));
    for (int twice = 0; twice < 2; ++twice) {
      config.resetKestBase();
      EXPECT_EQ(own, config.kestBase());
      EXPECT_FALSE(config.isKestBaseSet());
      EXPECT_EQ(1, b->referenceCount());
    }
    IKestBase::retainNode(own);  // watch the own root's references
    config.setKestBase(a);
    KestConfig copy(config);  // keeps the caller's node and the own root alive
    EXPECT_EQ(3, own->referenceCount());
  }
  EXPECT_EQ(1, own->referenceCount());
  IKestBase::releaseNode(own);
  EXPECT_EQ(1, a->referenceCount());
  // Assignment releases the target's trees once and takes the set state.
  KestConfig source(DeviceIoDataSource);
  source.setKestBase(a);
  KestConfig target(DeviceIoDataSource);
  IKestBase* targetOwn = target.kestBase();
  IKestBase::retainNode(targetOwn);
  target.setKestBase(b);
  target = source;
  EXPECT_EQ(1, targetOwn->referenceCount());
  EXPECT_EQ(1, b->referenceCount());
  EXPECT_EQ(3, a->referenceCount());  // caller, source, target
  target.resetKestBase();
  EXPECT_EQ(2, a->referenceCount());
  IKestBase::releaseNode(targetOwn);
  {
    KestConfig unset(DeviceIoDataSource);
    unset = source;
    EXPECT_TRUE(unset.isKestBaseSet()) << "an assignment takes the set state with the nodes";
  }
  // Initializing the data source again drops the caller's node and the own
  // root; WrenDataSource leaves no node.
  KestConfig fresh(DeviceIoDataSource);
  own = fresh.getIKestBase();
  IKestBase::retainNode(own);
  fresh.setKestBase(b);
  PdaTestAccess::KestConfig_initializeDataSource(fresh, WrenDataSource);
  EXPECT_FALSE(fresh.isKestBaseSet());
  EXPECT_EQ(1, own->referenceCount());
  EXPECT_EQ(1, b->referenceCount());
  fresh.reInitialize();  // no node: nothing to do
  IKestBase::releaseNode(own);
  source.resetKestBase();
  IKestBase::releaseNode(b);
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyedA);
  EXPECT_EQ(1, destroyedB);
}

// An installed suite: the database builds interfaces with their instruments
// and keeps the session parameters.
TEST(KestConfigStores, Database) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db,
                  "INSERT INTO ConfigData(IDKEY, NAME, VALUE) VALUES"
                  "('K1','RecordType','Interface'),('K1','PersistentId','G-1'),"
                  "('K1','VISAName','GPIB5'),('K1','LU','5'),"
                  "('K2','RecordType','Device'),('K2','PersistentId','G-2'),"
                  "('K2','VisaAddress','GPIB5::3::INSTR'),('K2','ParentHashKey','G-1');"
                  "INSERT INTO SorrelParamInfo(NAME, VALUE) VALUES('usbtmc','LU,Name');");
  KestConfig config(SQLiteDataSource);
  ASSERT_NE(nullptr, dynamic_cast<KestSQLite*>(config.kestBase()));
  int found = 0;
  SubKeyMap::const_iterator intf = config.kestBase()->findMap("gpib5", &found);
  ASSERT_EQ(1, found);
  config.setKestBase(intf->second);
  EXPECT_EQ(5, config.getValueInt32("LU", -1));
  config.kestBase()->findMap("GPIB5::3::INSTR", &found);
  EXPECT_EQ(1, found);
  config.resetKestBase();
  EXPECT_EQ(1u, config.kestBase()->SubKeyMap()->size());
  SorrelParams params;  // the default store of an installed suite
  EXPECT_EQ(SQLiteDataSource, params.getDataSource());
  EXPECT_EQ("LU,Name", read(params, "USBTMC"));
}

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

  // A copy outlives its original and still writes through the shared tree.
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
  PdaTestAccess::PxiTypeInfo_initializeDataSource(record, UnknownDataSource);
  EXPECT_EQ(RegistryDataSource, record.getDataSource());  // recorded as resolved
  auto* fresh = dynamic_cast<KestSQLite*>(record.getIKestBase());
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ(SModulesBaseType, fresh->baseType());
  EXPECT_EQ(1, old->referenceCount());  // this record's reference was dropped
}

TEST(PxiTypeInfoStore, TypesOutsideThePxiTablesGetNoStore) {
  pdatest::TempMachine machine;
  machine.installSuite();
  for (int value : {6, 11}) {
    SCOPED_TRACE(value);
    PxiTypeInfo record(static_cast<KestBaseType>(value));
    EXPECT_EQ(nullptr, record.getIKestBase());
    EXPECT_EQ(SQLiteDataSource, record.getDataSource());
    PdaTestAccess::PxiTypeInfo_initializeDataSource(record, SQLiteDataSource);
    EXPECT_EQ(nullptr, record.getIKestBase());
  }
  EXPECT_FALSE(std::filesystem::exists(machine.pxiDir() + "RemotePXI.db"));
}

// Read from the installed suite's default store, the database.
TEST(FavoritesStores, OnOffInAnyCaseAndEverythingElseNotSet) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db,
                  "INSERT INTO InstrumentFavorites(NAME, VALUE) VALUES('Scope', 'ON'),"
                  "('Meter', 'off'), ('Counter', '1'), ('Padded', 'On ');");
  InstrumentFavoritesInfo favorites;
  EXPECT_EQ(SQLiteDataSource, favorites.getDataSource());
  EXPECT_EQ(InstrumentFavoriteOn, favorites.getInstrumentFavoriteSetting("SCOPE"));
  EXPECT_EQ(InstrumentFavoriteOff, favorites.getInstrumentFavoriteSetting("Meter"));
  for (const char* name : {"Counter", "Padded", "Missing", static_cast<const char*>(nullptr)})
    EXPECT_EQ(InstrumentFavoriteNotSet, favorites.getInstrumentFavoriteSetting(name))
        << (name ? name : "null");
}

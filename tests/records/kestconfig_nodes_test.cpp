// The configuration record: its store on every data source, the replacement
// of the node in use (setKestBase / resetKestBase), and the lifetime of every
// node involved (each destroyed exactly once: run under ASan to see double
// frees); also the remote-session parameter record.

#include <gtest/gtest.h>

#include <string>

#include "TestAccess.h"
#include "pda/KestConfig.h"
#include "pda/KestDeviceIoConfig.h"
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

// setKestBase / resetKestBase: the node in use, whether one is set, where
// reads and writes go, and the references of the caller's and the own nodes.
TEST(KestConfigNodes, ReplacementFollowsTheStateTable) {
  pdatest::TempMachine machine;
  int destroyedA = 0, destroyedB = 0;
  CountedNode* a = makeCallerNode("A", &destroyedA);
  CountedNode* b = makeCallerNode("B", &destroyedB);
  {
    KestConfig config(DeviceIoDataSource);
    IKestBase* own = config.kestBase();
    ASSERT_NE(nullptr, own);
    EXPECT_FALSE(config.isKestBaseSet());
    config.setKestBase(a);
    EXPECT_EQ(2, a->referenceCount());
    EXPECT_EQ(1, own->referenceCount());  // kept aside, not shared
    EXPECT_NE(0, config.setValueInt32("Written", 42));
    EXPECT_EQ(42, a->getValueInt32("Written", -1));
    config.setKestBase(b);
    EXPECT_EQ("B", read(config));
    EXPECT_EQ(1, a->referenceCount());  // let go, not destroyed
    config.setKestBase(nullptr);
    EXPECT_EQ(b, config.kestBase());
    for (int twice = 0; twice < 2; ++twice) {
      config.resetKestBase();
      EXPECT_EQ(own, config.kestBase());
      EXPECT_FALSE(config.isKestBaseSet());
      EXPECT_EQ(-1, config.getValueInt32("Written", -1));
      EXPECT_EQ(1, b->referenceCount());
    }
  }
  EXPECT_EQ(0, destroyedA + destroyedB);
  IKestBase::releaseNode(a);
  IKestBase::releaseNode(b);
  EXPECT_EQ(1, destroyedA);
  EXPECT_EQ(1, destroyedB);
  // A node of the record's own tree, still in use when the record goes: the
  // own tree goes first, the child (held by the record) after it, each once.
  KestConfig config(DeviceIoDataSource);
  int found = 0;
  SubKeyMap::const_iterator intf0 = config.kestBase()->findMap("intf0", &found);
  ASSERT_EQ(1, found);
  config.setKestBase(intf0->second);
  EXPECT_EQ(7, config.getValueInt32("LU", -1));
}

// Destroying, copying, assigning and re-initializing a record release its
// own root and its caller's node exactly once and leave the caller's alone.
TEST(KestConfigNodes, LifetimeOfTheOwnRootAndTheCallersNode) {
  pdatest::TempMachine machine;
  int destroyedA = 0, destroyedB = 0;
  CountedNode* a = makeCallerNode("A", &destroyedA);
  CountedNode* b = makeCallerNode("B", &destroyedB);
  IKestBase* own = nullptr;
  {
    KestConfig config(DeviceIoDataSource);
    own = config.kestBase();
    IKestBase::retainNode(own);  // watch the own root's references
    config.setKestBase(a);
  }
  EXPECT_EQ(1, own->referenceCount());
  IKestBase::releaseNode(own);
  EXPECT_EQ(1, a->referenceCount());
  // A copy keeps the caller's node and the own root alive.
  auto* original = new KestConfig(DeviceIoDataSource);
  own = original->kestBase();
  original->setKestBase(a);
  KestConfig copy(*original);
  delete original;
  copy.resetKestBase();
  EXPECT_EQ(own, copy.kestBase());
  EXPECT_EQ(1, own->referenceCount());
  EXPECT_EQ(1, a->referenceCount());
  // Assignment releases the target's trees once; self-assignment changes nothing.
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
  {
    KestConfig unset(DeviceIoDataSource);
    unset = source;
    EXPECT_TRUE(unset.isKestBaseSet()) << "an assignment takes the set state with the nodes";
  }
  EXPECT_EQ(2, a->referenceCount());
  IKestBase::releaseNode(targetOwn);
  KestConfig other(DeviceIoDataSource);
  // Initializing the data source again drops the caller's node and the own root.
  KestConfig fresh(DeviceIoDataSource);
  own = fresh.getIKestBase();
  IKestBase::retainNode(own);
  fresh.setKestBase(other.kestBase());
  PdaTestAccess::KestConfig_initializeDataSource(fresh, WrenDataSource);
  EXPECT_FALSE(fresh.isKestBaseSet());
  EXPECT_EQ(nullptr, fresh.kestBase());
  EXPECT_EQ(1, own->referenceCount());
  EXPECT_EQ(1, other.kestBase()->referenceCount());
  IKestBase::releaseNode(own);
  source.resetKestBase();
  IKestBase::releaseNode(b);
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyedA);
  EXPECT_EQ(1, destroyedB);
}

// Without an installed suite: the built-in store (rebuilt by reInitialize),
// and WrenDataSource, which has no node but takes a caller's one.
TEST(KestConfigStores, BuiltInStoreAndWren) {
  pdatest::TempMachine machine;
  KestConfig config;
  EXPECT_EQ(DeviceIoDataSource, config.getDataSource());
  EXPECT_NE(0, config.setValueString("Scratch", "1"));
  config.reInitialize();
  EXPECT_EQ(0, config.getValueInt32("Scratch", 0));
  EXPECT_EQ(4u, config.kestBase()->SubKeyMap()->size());  // rebuilt on access
  int destroyed = 0;
  CountedNode* a = makeCallerNode("A", &destroyed);
  {
    KestConfig wren(WrenDataSource);
    EXPECT_EQ(nullptr, wren.kestBase());
    wren.reInitialize();
    wren.setKestBase(a);
    EXPECT_TRUE(wren.isKestBaseSet());
    EXPECT_EQ("A", read(wren));
    wren.resetKestBase();
    EXPECT_EQ(nullptr, wren.kestBase());
    wren.setKestBase(a);  // destroyed while in use
  }
  EXPECT_EQ(1, a->referenceCount());
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyed);
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

// The configuration record: its store on every data source, the replacement
// of the node in use (setKestBase / resetKestBase), and the lifetime of every
// node involved: each destroyed exactly once, a caller's node never by the
// record while the caller holds it. Run under ASan to see double frees.

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

std::string marker(KestRecord& record) {
  char buffer[32];
  record.getValueString("Marker", buffer, sizeof buffer, "none");
  return buffer;
}

}  // namespace

// ---------------------------------------------------------------------------
// Node replacement.

TEST(KestConfigNodes, ReplacementFollowsTheStateTable) {
  pdatest::TempMachine machine;
  int destroyedA = 0;
  int destroyedB = 0;
  CountedNode* a = makeCallerNode("A", &destroyedA);
  CountedNode* b = makeCallerNode("B", &destroyedB);
  {
    KestConfig config(DeviceIoDataSource);
    IKestBase* own = config.kestBase();
    ASSERT_NE(nullptr, own);
    EXPECT_FALSE(config.isKestBaseSet());
    EXPECT_EQ("none", marker(config));

    config.setKestBase(a);
    EXPECT_EQ(a, config.kestBase());
    EXPECT_TRUE(config.isKestBaseSet());
    EXPECT_EQ("A", marker(config));
    EXPECT_EQ(2, a->referenceCount());
    EXPECT_EQ(1, own->referenceCount());  // kept aside, not shared

    config.setKestBase(b);
    EXPECT_EQ(b, config.kestBase());
    EXPECT_TRUE(config.isKestBaseSet());
    EXPECT_EQ("B", marker(config));
    EXPECT_EQ(1, a->referenceCount());  // let go, not destroyed
    EXPECT_EQ(0, destroyedA);

    config.setKestBase(nullptr);
    EXPECT_EQ(b, config.kestBase());
    EXPECT_TRUE(config.isKestBaseSet());

    config.resetKestBase();
    EXPECT_EQ(own, config.kestBase());
    EXPECT_FALSE(config.isKestBaseSet());
    EXPECT_EQ("none", marker(config));
    EXPECT_EQ(1, b->referenceCount());

    config.resetKestBase();
    EXPECT_EQ(own, config.kestBase());
    EXPECT_FALSE(config.isKestBaseSet());
  }
  EXPECT_EQ(0, destroyedA);
  EXPECT_EQ(0, destroyedB);
  IKestBase::releaseNode(a);
  IKestBase::releaseNode(b);
  EXPECT_EQ(1, destroyedA);
  EXPECT_EQ(1, destroyedB);
}

TEST(KestConfigNodes, WritesGoToTheNodeInUse) {
  pdatest::TempMachine machine;
  int destroyed = 0;
  CountedNode* a = makeCallerNode("A", &destroyed);
  KestConfig config(DeviceIoDataSource);
  IKestBase* own = config.kestBase();
  config.setKestBase(a);
  EXPECT_NE(0, config.setValueInt32("Written", 42));
  EXPECT_EQ(42, a->getValueInt32("Written", -1));
  EXPECT_EQ(-1, own->getValueInt32("Written", -1));
  config.resetKestBase();
  EXPECT_EQ(-1, config.getValueInt32("Written", -1));
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyed);
}

TEST(KestConfigNodes, DestroyingTheRecordWhileACallerNodeIsInUse) {
  pdatest::TempMachine machine;
  int destroyed = 0;
  CountedNode* a = makeCallerNode("A", &destroyed);
  IKestBase* own = nullptr;
  {
    KestConfig config(DeviceIoDataSource);
    own = config.kestBase();
    IKestBase::retainNode(own);  // watch the own root's references
    config.setKestBase(a);
  }
  // The record released its own root exactly once and left the caller's node alone.
  EXPECT_EQ(1, own->referenceCount());
  IKestBase::releaseNode(own);
  EXPECT_EQ(0, destroyed);
  EXPECT_EQ(1, a->referenceCount());
  char buffer[8];
  a->getValueString("Marker", buffer, sizeof buffer, "");
  EXPECT_STREQ("A", buffer);  // untouched by the record
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyed);
}

TEST(KestConfigNodes, ANodeOfTheRecordsOwnTreeCanBeUsed) {
  pdatest::TempMachine machine;
  KestConfig config(DeviceIoDataSource);
  int found = 0;
  SubKeyMap::const_iterator intf0 = config.kestBase()->findMap("intf0", &found);
  ASSERT_EQ(1, found);
  config.setKestBase(intf0->second);
  EXPECT_EQ(7, config.getValueInt32("LU", -1));
  EXPECT_TRUE(config.isKestBaseSet());
  // Destroyed with the child still in use: the own tree goes first, the
  // child (held by the record) after it, each once.
}

TEST(KestConfigNodes, SettingTheOwnRootAsCallerNodeIsBalanced) {
  pdatest::TempMachine machine;
  KestConfig config(DeviceIoDataSource);
  IKestBase* own = config.kestBase();
  config.setKestBase(own);
  EXPECT_TRUE(config.isKestBaseSet());
  EXPECT_EQ(2, own->referenceCount());
  config.resetKestBase();
  EXPECT_EQ(1, own->referenceCount());
  EXPECT_EQ(own, config.kestBase());
}

// ---------------------------------------------------------------------------
// Copies and assignment.

TEST(KestConfigCopies, CopyKeepsTheCallerNodeAndTheOwnRootAlive) {
  pdatest::TempMachine machine;
  int destroyed = 0;
  CountedNode* a = makeCallerNode("A", &destroyed);
  auto* original = new KestConfig(DeviceIoDataSource);
  IKestBase* own = original->kestBase();
  original->setKestBase(a);
  KestConfig copy(*original);
  delete original;

  EXPECT_TRUE(copy.isKestBaseSet());
  EXPECT_EQ(a, copy.kestBase());
  EXPECT_EQ("A", marker(copy));
  copy.resetKestBase();
  EXPECT_EQ(own, copy.kestBase());
  EXPECT_EQ(4u, copy.kestBase()->SubKeyMap()->size());  // the own tree is intact
  EXPECT_EQ(1, own->referenceCount());
  EXPECT_EQ(1, a->referenceCount());
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyed);
}

TEST(KestConfigCopies, AssignmentReleasesTheTargetsTreesOnce) {
  pdatest::TempMachine machine;
  int destroyedA = 0;
  int destroyedB = 0;
  CountedNode* a = makeCallerNode("A", &destroyedA);
  CountedNode* b = makeCallerNode("B", &destroyedB);

  KestConfig source(DeviceIoDataSource);
  source.setKestBase(a);
  KestConfig target(DeviceIoDataSource);
  IKestBase* targetOwn = target.kestBase();
  IKestBase::retainNode(targetOwn);
  target.setKestBase(b);

  target = source;
  EXPECT_EQ(1, targetOwn->referenceCount());  // the target's old own root was released
  EXPECT_EQ(1, b->referenceCount());          // and so was its caller node
  EXPECT_EQ(a, target.kestBase());
  EXPECT_EQ(3, a->referenceCount());  // caller, source, target
  EXPECT_TRUE(target.isKestBaseSet());

  KestConfig& same = target;
  target = same;  // self-assignment changes nothing
  EXPECT_EQ(3, a->referenceCount());
  target.resetKestBase();
  EXPECT_EQ(source.getIKestBase(), a);
  EXPECT_EQ(2, a->referenceCount());

  IKestBase::releaseNode(targetOwn);
  IKestBase::releaseNode(b);
  EXPECT_EQ(1, destroyedB);
  source.resetKestBase();
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyedA);
}

TEST(KestConfigCopies, AssignmentThroughTheBaseClassStaysBalanced) {
  pdatest::TempMachine machine;
  int destroyed = 0;
  CountedNode* a = makeCallerNode("A", &destroyed);
  KestConfig config(DeviceIoDataSource);
  config.setKestBase(a);
  KestConfig other(DeviceIoDataSource);
  KestRecord& base = config;
  base = other;  // replaces the node in use only
  EXPECT_EQ(other.kestBase(), config.kestBase());
  EXPECT_EQ(1, a->referenceCount());
  config.resetKestBase();  // back to the own root it kept aside
  EXPECT_NE(other.kestBase(), config.kestBase());
  EXPECT_EQ(1, other.kestBase()->referenceCount());
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyed);
}

// ---------------------------------------------------------------------------
// Stores.

TEST(KestConfigStores, ReInitializeForgetsWritesOfTheNodeInUse) {
  pdatest::TempMachine machine;  // not installed: the built-in defaults
  KestConfig config;
  EXPECT_EQ(DeviceIoDataSource, config.getDataSource());
  EXPECT_NE(0, config.setValueString("Scratch", "1"));
  config.reInitialize();
  EXPECT_EQ(0, config.getValueInt32("Scratch", 0));
  EXPECT_EQ(4u, config.kestBase()->SubKeyMap()->size());  // rebuilt on access
}

TEST(KestConfigStores, WrenHasNoNodeButTakesACallerNode) {
  pdatest::TempMachine machine;
  int destroyed = 0;
  CountedNode* a = makeCallerNode("A", &destroyed);
  {
    KestConfig config(WrenDataSource);
    EXPECT_EQ(nullptr, config.kestBase());
    config.reInitialize();
    EXPECT_EQ(5, config.getValueInt32("LU", 5));
    EXPECT_EQ(0, config.setValueInt32("LU", 6));
    EXPECT_FALSE(config.isKestBaseSet());

    config.setKestBase(a);
    EXPECT_TRUE(config.isKestBaseSet());
    EXPECT_EQ("A", marker(config));
    config.resetKestBase();
    EXPECT_EQ(nullptr, config.kestBase());
    EXPECT_FALSE(config.isKestBaseSet());
    config.setKestBase(a);  // destroyed while in use
  }
  EXPECT_EQ(1, a->referenceCount());
  IKestBase::releaseNode(a);
  EXPECT_EQ(1, destroyed);
}

TEST(KestConfigStores, SQLiteBuildsInterfacesWithTheirInstruments) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db,
                  "INSERT INTO ConfigData(IDKEY, NAME, VALUE) VALUES"
                  "('K1','RecordType','Interface'),('K1','PersistentId','G-1'),"
                  "('K1','VISAName','GPIB5'),('K1','LU','5'),"
                  "('K2','RecordType','Device'),('K2','PersistentId','G-2'),"
                  "('K2','VisaAddress','GPIB5::3::INSTR'),('K2','ParentHashKey','G-1');");
  KestConfig config(SQLiteDataSource);
  ASSERT_NE(nullptr, dynamic_cast<KestSQLite*>(config.kestBase()));
  int found = 0;
  SubKeyMap::const_iterator intf = config.kestBase()->findMap("gpib5", &found);
  ASSERT_EQ(1, found);
  config.setKestBase(intf->second);
  EXPECT_EQ(5, config.getValueInt32("LU", -1));
  int hasInstrument = 0;
  config.kestBase()->findMap("GPIB5::3::INSTR", &hasInstrument);
  EXPECT_EQ(1, hasInstrument);
  config.resetKestBase();
  EXPECT_EQ(1u, config.kestBase()->SubKeyMap()->size());
}

TEST(KestConfigNodes, InitializeDataSourceDropsACallerNodeAndTheOwnRoot) {
  pdatest::TempMachine machine;
  KestConfig config(DeviceIoDataSource);
  IKestBase* own = config.getIKestBase();
  IKestBase::retainNode(own);
  KestConfig other(DeviceIoDataSource);
  config.setKestBase(other.kestBase());
  EXPECT_EQ(2, other.kestBase()->referenceCount());

  PdaTestAccess::KestConfig_initializeDataSource(config, WrenDataSource);
  EXPECT_FALSE(config.isKestBaseSet());
  EXPECT_EQ(nullptr, config.kestBase());
  EXPECT_EQ(1, own->referenceCount());
  EXPECT_EQ(1, other.kestBase()->referenceCount());
  IKestBase::releaseNode(own);
}

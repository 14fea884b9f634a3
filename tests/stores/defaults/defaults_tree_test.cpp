// The built-in defaults store: what each kind of root holds, how it is built
// and rebuilt, and how its nodes are shared by copies.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pda/KestDeviceIoConfig.h"
#include "pda/Version.h"
#include "support/Fixtures.h"

namespace {

struct Release {
  void operator()(IKestBase* node) const { IKestBase::releaseNode(node); }
};
typedef std::unique_ptr<KestDeviceIoConfig, Release> Root;

Root makeRoot(KestBaseType type) {
  return Root(KestDeviceIoConfig::CreateInstance(type));
}

std::string readString(IKestBase* node, const char* name, const char* fallback = "<default>") {
  char buffer[256];
  node->getValueString(name, buffer, sizeof buffer, fallback);
  return buffer;
}

IKestBase* child(IKestBase* root, const char* key) {
  int found = 0;
  auto it = root->findMap(key, &found);
  return found ? it->second : nullptr;
}

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The I/O configuration tree

TEST(DefaultsConfigTree, FourInterfacesInNameOrderAndNoValuesOfItsOwn) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  EXPECT_STREQ(root->RecordType(), "KestConfig");
  EXPECT_STREQ(root->RecordId(), "");

  std::vector<std::string> keys;
  for (const auto& entry : *root->SubKeyMap()) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"INTF0", "INTF297", "INTF298", "LAN_SERVER"}));
  EXPECT_TRUE(root->NameValueMap()->empty());
}

TEST(DefaultsConfigTree, EachInterfaceIsAChildNodeWithItsIdentity) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  Root again = makeRoot(KestConfigBaseType);
  for (const auto& entry : *root->SubKeyMap()) {
    SCOPED_TRACE(entry.first);
    IKestBase* node = entry.second;
    EXPECT_STREQ(node->RecordId(), entry.first.c_str());
    EXPECT_STREQ(node->RecordType(), "Interface");
    EXPECT_STREQ(node->ParentId(), "");
    EXPECT_EQ(node->ParentPointer(), root.get());
    EXPECT_EQ(readString(node, "PersistentId"), node->PersistentId());
    EXPECT_EQ(std::strlen(node->PersistentId()), 36u);
    EXPECT_TRUE(node->SubKeyMap()->empty());
    auto* asDefaults = dynamic_cast<KestDeviceIoConfig*>(node);
    ASSERT_NE(asDefaults, nullptr);
    EXPECT_EQ(asDefaults->baseType(), KestConfigBaseType);
    // Fixed, not generated: a second tree holds the same values.
    IKestBase* twin = child(again.get(), entry.first.c_str());
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(*twin->NameValueMap(), *node->NameValueMap());
  }
  // Only the GPIB card carries plug-and-play numbers.
  EXPECT_EQ(readString(child(root.get(), "INTF0"), "PNPsecId"),
            readString(child(root.get(), "INTF0"), "PNPvid"));
  EXPECT_TRUE(allDigits(readString(child(root.get(), "INTF0"), "PNPsn")));
  for (const char* other : {"LAN_SERVER", "INTF297", "INTF298"})
    EXPECT_EQ(readString(child(root.get(), other), "PNPvid"), "<default>") << other;
}

TEST(DefaultsConfigTree, TypedReadsThroughTheNodes) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  IKestBase* gpib = child(root.get(), "intf0");  // child names ignore case too
  IKestBase* lan = child(root.get(), "LAN_SERVER");
  IKestBase* intf298 = child(root.get(), "INTF298");
  ASSERT_TRUE(gpib && lan && intf298);

  EXPECT_EQ(gpib->getValueInt32("LU", -1), 7);
  EXPECT_EQ(lan->getValueInt32("LU", -1), 200);
  EXPECT_EQ(readString(gpib, "VISAName"), "GPIB0");
  EXPECT_EQ(gpib->getValueBool("Discoverable", 0), 1);
  EXPECT_EQ(intf298->getValueBool("Discoverable", 1), 0);
  EXPECT_EQ(lan->getValueBool("keepalives", 0), 1);  // "True" on this node
  EXPECT_EQ(lan->getValueBool("log_locks_conns", 1), 0);
  EXPECT_EQ(readString(gpib, "FriendlyName", "none"), "none");
  EXPECT_EQ(gpib->getValueInt32("FriendlyName", 55), 55);
  // Reading an absent name leaves no empty entry behind.
  EXPECT_EQ(gpib->NameValueMap()->count("FriendlyName"), 0u);
}

TEST(DefaultsConfigTree, ChildOfARootWithARecordIdCopiesIt) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  root->setRecordId("Machine");
  EXPECT_STREQ(child(root.get(), "INTF297")->ParentId(), "Machine");
}

TEST(DefaultsConfigTree, InterfaceWhoseValuesWereAllDeletedStaysEmpty) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  IKestBase* gpib = child(root.get(), "INTF0");
  std::vector<std::string> names;
  for (const auto& pair : *gpib->NameValueMap()) names.push_back(pair.first);
  for (const auto& name : names) EXPECT_EQ(gpib->deleteName(name.c_str()), 1);

  EXPECT_TRUE(gpib->NameValueMap()->empty());
  EXPECT_TRUE(gpib->SubKeyMap()->empty());
  EXPECT_EQ(gpib->getValueInt32("LU", -1), -1);
  EXPECT_EQ(root->SubKeyMap()->size(), 4u);
}

// ---------------------------------------------------------------------------
// The other kinds of root

TEST(DefaultsRoots, GlobalSettingsHoldOnlyTheBuildVersion) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestInfoBaseType);
  EXPECT_STREQ(root->RecordType(), "KestInfo");
  EXPECT_EQ(readString(root.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(root->NameValueMap()->size(), 1u);
  EXPECT_TRUE(root->SubKeyMap()->empty());
  EXPECT_EQ(root->getValueInt32("InstallLevel", 256), 256);
  EXPECT_EQ(readString(root.get(), "DataDir", "x"), "x");
  EXPECT_EQ(std::string(PDA_VERSION_STRING),
            std::to_string(PDA_VERSION_MAJOR) + "." + std::to_string(PDA_VERSION_MINOR) + "." +
                std::to_string(PDA_VERSION_PATCH) + "." + std::to_string(PDA_VERSION_TWEAK));
}

TEST(DefaultsRoots, KindsWithoutContentStayEmpty) {
  pdatest::TempMachine machine;
  const struct {
    int type;
    const char* recordType;
  } cases[] = {{VisaInfoBaseType, "VisaInfo"},
               {AliasBaseType, "Alias"},
               {InstrumentFavoritesBaseType, "InstrumentFavorites"},
               {0, ""},
               {ChassisBaseType, ""},
               {PciBusesBaseType, ""},
               {11, ""},
               {-3, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Root root = makeRoot(static_cast<KestBaseType>(c.type));
    EXPECT_STREQ(root->RecordType(), c.recordType);
    EXPECT_EQ(root->baseType(), static_cast<KestBaseType>(c.type));
    EXPECT_EQ(root->ParentPointer(), nullptr);
    EXPECT_TRUE(root->SubKeyMap()->empty());
    EXPECT_TRUE(root->NameValueMap()->empty());
    EXPECT_EQ(root->getValueInt32("CurrentVersion", -7), -7);
  }
}

// ---------------------------------------------------------------------------
// Writes live in memory only, until reInitialize

TEST(DefaultsWrites, WriteBeforeAnyReadKeepsTheDefaults) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestInfoBaseType);
  EXPECT_EQ(root->setValueInt32("InstallLevel", 3), 1);
  EXPECT_EQ(readString(root.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(root->getValueInt32("InstallLevel", 256), 3);
}

TEST(DefaultsWrites, ReInitializeDiscardsWrittenValues) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestInfoBaseType);
  EXPECT_EQ(root->setValueString("CurrentVersion", "9.8.7.6"), 1);
  EXPECT_EQ(root->setValueBool("IOControlHidden", 1), 1);
  EXPECT_EQ(readString(root.get(), "CurrentVersion"), "9.8.7.6");
  root->reInitialize();
  EXPECT_EQ(readString(root.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(root->getValueBool("IOControlHidden", 0), 0);
  EXPECT_EQ(root->NameValueMap()->size(), 1u);
}

TEST(DefaultsWrites, EmptyKindKeepsWritesUntilReInitialize) {
  pdatest::TempMachine machine;
  Root root = makeRoot(VisaInfoBaseType);
  EXPECT_EQ(root->setValueInt32("MaxSessNbr", 12), 1);
  EXPECT_EQ(root->getValueInt32("MaxSessNbr", 0), 12);
  root->reInitialize();
  EXPECT_EQ(root->getValueInt32("MaxSessNbr", 0), 0);
  EXPECT_TRUE(root->NameValueMap()->empty());
}

TEST(DefaultsWrites, ReInitializeRebuildsTheInterfacesAfresh) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  IKestBase* gpib = child(root.get(), "INTF0");
  EXPECT_EQ(gpib->setValueString("Name", "renamed"), 1);
  EXPECT_EQ(gpib->setValueString("Extra", "1"), 1);

  root->reInitialize();
  EXPECT_TRUE(root->rawSubKeyMap().empty());
  EXPECT_TRUE(root->rawNameValueMap().empty());

  IKestBase* rebuilt = child(root.get(), "INTF0");
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(readString(rebuilt, "Name"), "gpib100");
  EXPECT_EQ(readString(rebuilt, "Extra"), "<default>");
  EXPECT_EQ(root->SubKeyMap()->size(), 4u);
}

// ---------------------------------------------------------------------------
// Copies share nodes; each node is destroyed exactly once (run under ASan)

TEST(DefaultsCopies, CopyOfABuiltRootSharesItsInterfaces) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  IKestBase* gpib = child(root.get(), "INTF0");
  EXPECT_EQ(gpib->referenceCount(), 1);

  Root copy(new KestDeviceIoConfig(*root));
  EXPECT_EQ(copy->baseType(), KestConfigBaseType);
  EXPECT_EQ(child(copy.get(), "INTF0"), gpib);
  EXPECT_EQ(gpib->referenceCount(), 2);

  // The original drops its children; the copy's stay alive and readable.
  root->reInitialize();
  EXPECT_EQ(gpib->referenceCount(), 1);
  EXPECT_EQ(readString(gpib, "Name"), "gpib100");
  root.reset();
  EXPECT_EQ(child(copy.get(), "INTF0")->getValueInt32("LU", 0), 7);
}

TEST(DefaultsCopies, CopyOfAnUnbuiltRootBuildsItsOwnTree) {
  pdatest::TempMachine machine;
  Root root = makeRoot(KestConfigBaseType);
  Root copy(new KestDeviceIoConfig(*root));
  IKestBase* mine = child(copy.get(), "INTF297");
  IKestBase* theirs = child(root.get(), "INTF297");
  ASSERT_TRUE(mine && theirs);
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(mine->ParentPointer(), copy.get());
}

TEST(DefaultsCopies, AssignmentReleasesTheTargetsChildren) {
  pdatest::TempMachine machine;
  Root target = makeRoot(KestConfigBaseType);
  Root source = makeRoot(KestInfoBaseType);
  IKestBase* old = child(target.get(), "INTF0");
  IKestBase::retainNode(old);  // keep it observable
  EXPECT_EQ(old->referenceCount(), 2);

  *target = *source;
  EXPECT_EQ(old->referenceCount(), 1);
  EXPECT_EQ(target->baseType(), KestInfoBaseType);
  EXPECT_EQ(readString(target.get(), "CurrentVersion"), PDA_VERSION_STRING);
  IKestBase::releaseNode(old);

  *target = *target;  // self-assignment changes nothing
  EXPECT_EQ(readString(target.get(), "CurrentVersion"), PDA_VERSION_STRING);
}

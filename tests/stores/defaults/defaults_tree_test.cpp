// The built-in defaults store: what each kind of root holds, how it is built
// and rebuilt, and how its nodes are shared by copies.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/NodeHolder.h"
#include "pda/KestDeviceIoConfig.h"
#include "pda/Version.h"
#include "support/Fixtures.h"

namespace {

using Root = pda::NodeHolder<KestDeviceIoConfig>;

Root makeRoot(int type) {
  return Root(KestDeviceIoConfig::CreateInstance(static_cast<KestBaseType>(type)));
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

}  // namespace

struct WithMachine : ::testing::Test {
  pdatest::TempMachine machine;
};
struct DefaultsConfigTree : WithMachine {};
struct DefaultsCopies : WithMachine {};
struct DefaultsRoots : WithMachine {};
struct DefaultsWrites : WithMachine {};

// The I/O configuration tree: four interfaces in name order, each a child
// node with fixed values and its identity, read through the typed getters.
TEST_F(DefaultsConfigTree, InterfacesTheirIdentityAndTypedReads) {
  Root root = makeRoot(KestConfigBaseType), again = makeRoot(KestConfigBaseType);
  EXPECT_STREQ(root->RecordType(), "KestConfig");
  std::vector<std::string> keys;
  for (const auto& entry : *root->SubKeyMap()) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"INTF0", "INTF297", "INTF298", "LAN_SERVER"}));
  EXPECT_TRUE(root->NameValueMap()->empty());
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
    // Fixed, not generated: a second tree holds the same values.
    IKestBase* twin = child(again.get(), entry.first.c_str());
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(*twin->NameValueMap(), *node->NameValueMap());
  }
  IKestBase* gpib = child(root.get(), "intf0");  // child names ignore case too
  IKestBase* lan = child(root.get(), "LAN_SERVER");
  ASSERT_TRUE(gpib && lan);
  // Only the GPIB card carries plug-and-play numbers.
  EXPECT_EQ(readString(gpib, "PNPsecId"), readString(gpib, "PNPvid"));
  const std::string serial = readString(gpib, "PNPsn");
  EXPECT_TRUE(!serial.empty() && serial.find_first_not_of("0123456789") == std::string::npos);
  for (const char* other : {"LAN_SERVER", "INTF297", "INTF298"})
    EXPECT_EQ(readString(child(root.get(), other), "PNPvid"), "<default>") << other;
  EXPECT_EQ(gpib->getValueInt32("LU", -1), 7);
  EXPECT_EQ(lan->getValueInt32("LU", -1), 200);
  EXPECT_EQ(readString(gpib, "VISAName"), "GPIB0");
  EXPECT_EQ(gpib->getValueBool("Discoverable", 0), 1);
  EXPECT_EQ(child(root.get(), "INTF298")->getValueBool("Discoverable", 1), 0);
  EXPECT_EQ(lan->getValueBool("keepalives", 0), 1);  // "True" on this node
  EXPECT_EQ(lan->getValueBool("log_locks_conns", 1), 0);
  EXPECT_EQ(readString(gpib, "FriendlyName", "none"), "none");
  // Reading an absent name leaves no empty entry behind.
  EXPECT_EQ(gpib->NameValueMap()->count("FriendlyName"), 0u);
  // A child of a root with a record id copies it.
  Root named = makeRoot(KestConfigBaseType);
  named->setRecordId("Machine");
  EXPECT_STREQ(child(named.get(), "INTF297")->ParentId(), "Machine");
  // An interface whose values were all deleted stays empty.
  std::vector<std::string> names;
  for (const auto& pair : *gpib->NameValueMap()) names.push_back(pair.first);
  for (const auto& name : names) EXPECT_EQ(gpib->deleteName(name.c_str()), 1);
  EXPECT_TRUE(gpib->NameValueMap()->empty());
  EXPECT_EQ(gpib->getValueInt32("LU", -1), -1);
  EXPECT_EQ(root->SubKeyMap()->size(), 4u);
}

// The other kinds of root: the global settings hold only the build version,
// the rest stay empty.
TEST_F(DefaultsRoots, GlobalSettingsHoldTheVersionAndOtherKindsStayEmpty) {
  Root info = makeRoot(KestInfoBaseType);
  EXPECT_STREQ(info->RecordType(), "KestInfo");
  EXPECT_EQ(readString(info.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(info->NameValueMap()->size(), 1u);
  EXPECT_TRUE(info->SubKeyMap()->empty());
  EXPECT_EQ(info->getValueInt32("InstallLevel", 256), 256);
  const struct {
    int type;
    const char* recordType;
  } cases[] = {{VisaInfoBaseType, "VisaInfo"},
               {AliasBaseType, "Alias"},
               {InstrumentFavoritesBaseType, "InstrumentFavorites"},
               {0, ""},
               {ChassisBaseType, ""},
               {11, ""},
               {-3, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Root root = makeRoot(c.type);
    EXPECT_STREQ(root->RecordType(), c.recordType);
    EXPECT_EQ(root->baseType(), static_cast<KestBaseType>(c.type));
    EXPECT_EQ(root->ParentPointer(), nullptr);
    EXPECT_TRUE(root->SubKeyMap()->empty());
    EXPECT_TRUE(root->NameValueMap()->empty());
  }
}

// Writes live in memory only, until reInitialize.
TEST_F(DefaultsWrites, WritesLastUntilReInitialize) {
  Root info = makeRoot(KestInfoBaseType);
  EXPECT_EQ(info->setValueInt32("InstallLevel", 3), 1);  // before any read: defaults stay
  EXPECT_EQ(readString(info.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(info->getValueInt32("InstallLevel", 256), 3);
  EXPECT_EQ(info->setValueString("CurrentVersion", "9.8.7.6"), 1);
  EXPECT_EQ(readString(info.get(), "CurrentVersion"), "9.8.7.6");
  info->reInitialize();
  EXPECT_EQ(readString(info.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(info->NameValueMap()->size(), 1u);

  Root visa = makeRoot(VisaInfoBaseType);  // a kind without content
  EXPECT_EQ(visa->setValueInt32("MaxSessNbr", 12), 1);
  EXPECT_EQ(visa->getValueInt32("MaxSessNbr", 0), 12);
  visa->reInitialize();
  EXPECT_TRUE(visa->NameValueMap()->empty());

  Root root = makeRoot(KestConfigBaseType);  // the interfaces are rebuilt afresh
  EXPECT_EQ(child(root.get(), "INTF0")->setValueString("Name", "renamed"), 1);
  root->reInitialize();
  EXPECT_TRUE(root->rawSubKeyMap().empty());
  EXPECT_EQ(readString(child(root.get(), "INTF0"), "Name"), "gpib100");
}

// Copies share nodes; each node is destroyed exactly once (run under ASan).
TEST_F(DefaultsCopies, CopiesShareBuiltChildrenAndAssignmentReleasesThem) {
  Root root = makeRoot(KestConfigBaseType);
  Root unbuiltCopy(new KestDeviceIoConfig(*root));  // copied before the build: a tree of its own
  IKestBase* gpib = child(root.get(), "INTF0");
  EXPECT_EQ(gpib->referenceCount(), 1);
  IKestBase* mine = child(unbuiltCopy.get(), "INTF297");
  ASSERT_TRUE(mine);
  EXPECT_NE(mine, child(root.get(), "INTF297"));
  EXPECT_EQ(mine->ParentPointer(), unbuiltCopy.get());

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

  Root source = makeRoot(KestInfoBaseType);
  IKestBase::retainNode(gpib);  // keep it observable
  EXPECT_EQ(gpib->referenceCount(), 2);
  *copy = *source;
  EXPECT_EQ(gpib->referenceCount(), 1);
  EXPECT_EQ(copy->baseType(), KestInfoBaseType);
  EXPECT_EQ(readString(copy.get(), "CurrentVersion"), PDA_VERSION_STRING);
  IKestBase::releaseNode(gpib);
  *copy = *copy;  // self-assignment changes nothing
  EXPECT_EQ(readString(copy.get(), "CurrentVersion"), PDA_VERSION_STRING);
}

// The built-in defaults store: what each kind of root holds, how it is built
// and rebuilt, and how its nodes are shared by copies.

#include <gtest/gtest.h>

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
// node with fixed values and its identity.
TEST_F(DefaultsConfigTree, InterfacesTheirIdentityAndValues) {
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
    // Fixed, not generated: a second tree holds the same values.
    EXPECT_EQ(*child(again.get(), entry.first.c_str())->NameValueMap(), *node->NameValueMap());
  }
  IKestBase* gpib = child(root.get(), "intf0");  // child names ignore case too
  ASSERT_TRUE(gpib);
  EXPECT_EQ(readString(gpib, "PNPsecId"), readString(gpib, "PNPvid"));
  EXPECT_EQ(readString(child(root.get(), "INTF297"), "PNPvid"), "<default>");
  EXPECT_EQ(gpib->getValueInt32("LU", -1), 7);
  EXPECT_EQ(child(root.get(), "LAN_SERVER")->getValueInt32("LU", -1), 200);
  // A child of a root with a record id copies it.
  Root named = makeRoot(KestConfigBaseType);
  named->setRecordId("Machine");
  EXPECT_STREQ(child(named.get(), "INTF297")->ParentId(), "Machine");
  // An interface whose values were all deleted stays empty.
  std::vector<std::string> names;
  for (const auto& pair : *gpib->NameValueMap()) names.push_back(pair.first);
  for (const auto& name : names) EXPECT_EQ(gpib->deleteName(name.c_str()), 1);
  EXPECT_TRUE(gpib->NameValueMap()->empty());
  EXPECT_EQ(root->SubKeyMap()->size(), 4u);
}

// The other kinds of root: the global settings hold only the build version,
// the rest stay empty.
TEST_F(DefaultsRoots, GlobalSettingsHoldTheVersionAndOtherKindsStayEmpty) {
  Root info = makeRoot(KestInfoBaseType);
  EXPECT_STREQ(info->RecordType(), "KestInfo");
  EXPECT_EQ(readString(info.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(info->NameValueMap()->size(), 1u);
  const struct {
    int type;
    const char* recordType;
  } cases[] = {{VisaInfoBaseType, "VisaInfo"},
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
  info->reInitialize();
  EXPECT_EQ(readString(info.get(), "CurrentVersion"), PDA_VERSION_STRING);
  EXPECT_EQ(info->NameValueMap()->size(), 1u);

  Root root = makeRoot(KestConfigBaseType);  // the interfaces are rebuilt afresh
  EXPECT_EQ(child(root.get(), "INTF0")->setValueString("Name", "renamed"), 1);
  root->reInitialize();
  EXPECT_TRUE(root->rawSubKeyMap().empty());
  EXPECT_EQ(readString(child(root.get(), "INTF0"), "Name"), "gpib100");
}

// A copy made before the build builds a tree of its own; one made after
// shares the children, which outlive the original; assignment takes the
// other's kind. (Sharing and releasing themselves: IKestBase_test.)
TEST_F(DefaultsCopies, CopiesShareBuiltChildrenAndAssignmentTakesTheKind) {
  Root root = makeRoot(KestConfigBaseType);
  Root unbuiltCopy(new KestDeviceIoConfig(*root));
  IKestBase* mine = child(unbuiltCopy.get(), "INTF297");
  ASSERT_TRUE(mine);
  EXPECT_NE(mine, child(root.get(), "INTF297"));
  EXPECT_EQ(mine->ParentPointer(), unbuiltCopy.get());

  Root copy(new KestDeviceIoConfig(*root));
  EXPECT_EQ(child(copy.get(), "INTF0"), child(root.get(), "INTF0"));
  root->reInitialize();
  root.reset();
  EXPECT_EQ(child(copy.get(), "INTF0")->getValueInt32("LU", 0), 7);
  *copy = *makeRoot(KestInfoBaseType);
  EXPECT_EQ(copy->baseType(), KestInfoBaseType);
  EXPECT_EQ(readString(copy.get(), "CurrentVersion"), PDA_VERSION_STRING);
}

// Key handles: copies of a registry node own handles of their own, and the
// static key helpers open, create and delete keys in their fixed views.
#include <cstring>

#include <gtest/gtest.h>

#include "Machine.h"

using namespace regtest;
using Map = std::map<std::string, std::string>;

namespace {

// Below a tree that every test machine starts without, in both views.
const char kAcme[] = "SOFTWARE\\Vantrel\\Acme";
const char kAcme32[] = "SOFTWARE\\Wow6432Node\\Vantrel\\Acme";
const char kAcmeNew[] = "SOFTWARE\\Vantrel\\Acme\\New";

std::string query(HKEY h, const char* name) {
  char data[64] = {};
  DWORD size = sizeof data - 1, type = 0;
  LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  return rc == ERROR_SUCCESS ? std::string(data) : "<error " + std::to_string(rc) + ">";
}

LONG setText(HKEY h, const char* name, const char* value) {
  return RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>(std::strlen(value) + 1));
}

// The node reads and writes its key: its handles are alive.
void expectWorking(KestRegistry& node, const char* keyRel, const char* probe) {
  SCOPED_TRACE(probe);
  EXPECT_EQ(node.getValueInt32("Seed", 0), 1);
  EXPECT_EQ(node.setValueString(probe, "y"), 1);
  EXPECT_TRUE(pdatest::regGet(key(keyRel), probe, nullptr, nullptr));
}

}  // namespace

struct RegistryHandles : WithMachine {};

// Copies and assigned nodes open handles of their own, which outlive the
// source; an assigned node takes the source's key name.
TEST_F(RegistryHandles, CopiesAndAssignedNodesOpenHandlesOfTheirOwn) {
  pdatest::regSetDword(key("VISAInfo"), "Seed", 1);
  Node<> source = create(VisaInfoBaseType);
  Node<> copy(new KestRegistry(*source));
  EXPECT_NE(PdaTestAccess::KestRegistry_readKey(*copy),
            PdaTestAccess::KestRegistry_readKey(*source));
  EXPECT_NE(PdaTestAccess::KestRegistry_writeKey(*copy),
            PdaTestAccess::KestRegistry_writeKey(*source));
  copy.reset();  // closes only the copy's handles
  expectWorking(*source, "VISAInfo", "AfterCopyGone");

  Node<> target = create(SorrelParamsBaseType);
  *target = *source;
  EXPECT_STREQ(target->keyName(), "VISAInfo");
  source.reset();
  target->reInitialize();
  EXPECT_EQ(values(*target).count("AfterCopyGone"), 1u);
  expectWorking(*target, "VISAInfo", "AfterSourceGone");
  KestRegistry& same = *target;
  *target = same;
  expectWorking(*target, "VISAInfo", "SelfAssigned");
}

TEST_F(RegistryHandles, CopiesShareChildrenUntilTheLastHolderGoes) {
  pdatest::regSetDword(key("Params\\S1"), "Seed", 1);
  Node<> root = create(SorrelParamsBaseType);
  ASSERT_EQ(root->SubKeyMap()->size(), 1u);
  Node<> copy(new KestRegistry(*root));
  root.reset();
  expectWorking(dynamic_cast<KestRegistry&>(*copy->SubKeyMap()->at("S1")), "Params\\S1", "P");

  Node<> alias = create(AliasBaseType);
  Node<> aliasCopy(new KestRegistry(*alias));
  EXPECT_EQ(PdaTestAccess::KestRegistry_readKey(*aliasCopy), nullptr);
  EXPECT_EQ(PdaTestAccess::KestRegistry_writeKey(*aliasCopy), nullptr);
}

TEST_F(RegistryHandles, HelpersOpenCreateAndDeleteInTheirFixedViews) {
  pdatest::regSetString(kAcme32, "V", "32");
  pdatest::regSetString(kAcme, "V", "64");

  HKEY h = nullptr;
  ASSERT_EQ(KestRegistry::VtlRegOpenKey32(HKEY_LOCAL_MACHINE, kAcme, &h), ERROR_SUCCESS);
  EXPECT_EQ(query(h, "V"), "32");
  EXPECT_EQ(setText(h, "W", "x"), ERROR_ACCESS_DENIED);  // read-only
  RegCloseKey(h);

  ASSERT_EQ(KestRegistry::VtlRegOpenKey(HKEY_LOCAL_MACHINE, kAcme, &h), ERROR_SUCCESS);
  EXPECT_EQ(query(h, "V"), "64");
  EXPECT_EQ(setText(h, "W", "x"), ERROR_SUCCESS);
  RegCloseKey(h);

  // The options are not passed on; the view is the 64-bit one whatever the
  // caller asks for.
  ASSERT_EQ(KestRegistry::VtlRegOpenKeyEx(HKEY_LOCAL_MACHINE, kAcme, 0xFFFFu, KEY_READ, &h),
            ERROR_SUCCESS);
  EXPECT_EQ(query(h, "V"), "64");
  EXPECT_EQ(setText(h, "W", "x"), ERROR_ACCESS_DENIED);
  RegCloseKey(h);

  EXPECT_EQ(KestRegistry::VtlRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\Missing", &h),
            ERROR_FILE_NOT_FOUND);
  // Keys are created and deleted.
  ASSERT_EQ(KestRegistry::VtlRegCreateKey(HKEY_LOCAL_MACHINE, kAcmeNew, &h), ERROR_SUCCESS);
  EXPECT_EQ(setText(h, "V", "1"), ERROR_SUCCESS);
  RegCloseKey(h);

  EXPECT_EQ(KestRegistry::VtlRegDeleteKey(HKEY_LOCAL_MACHINE, kAcmeNew), ERROR_SUCCESS);
  EXPECT_FALSE(pdatest::regGet(kAcmeNew, "V", nullptr, nullptr));
  EXPECT_EQ(KestRegistry::VtlRegDeleteKey(HKEY_LOCAL_MACHINE, kAcmeNew), ERROR_FILE_NOT_FOUND);
}

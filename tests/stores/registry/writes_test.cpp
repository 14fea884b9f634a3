// Writing through a registry node: each setter's registry type and data, read
// back directly, and what a key that cannot be written does to the node.
#include <climits>

#include <gtest/gtest.h>

#include "Machine.h"

using namespace regtest;
using Map = std::map<std::string, std::string>;

namespace {

struct Stored {
  bool found = false;
  unsigned int type = 0;
  std::string bytes;
};

Stored stored(const std::string& k, const std::string& name) {
  Stored s;
  s.found = pdatest::regGet(k, name, &s.type, &s.bytes);
  return s;
}

std::string dword(uint32_t v) {
  const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                     char((v >> 24) & 0xFF)};
  return std::string(b, 4);
}

}  // namespace

struct RegistryWrites : WithMachine {};

TEST_F(RegistryWrites, Int32StoresADwordAndBoolItsText) {
  auto node = create(VisaInfoBaseType);
  const std::string k = key("VISAInfo");
  for (int n : {7, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(n);
    ASSERT_EQ(node->setValueInt32("Number", n), 1);
    Stored s = stored(k, "Number");
    EXPECT_EQ(s.type, REG_DWORD);
    EXPECT_EQ(s.bytes, dword(static_cast<uint32_t>(n)));
    EXPECT_EQ(node->NameValueMap()->at("Number"), std::to_string(n));
  }
  // Bool stores the text "True" for every value but 0.
  auto info = create(KestInfoBaseType);
  ASSERT_EQ(info->setValueBool("On", 2), 1);
  ASSERT_EQ(info->setValueBool("Off", 0), 1);
  EXPECT_EQ(stored(key(""), "On").type, REG_SZ);
  EXPECT_EQ(stored(key(""), "On").bytes, std::string("True", 5));
  EXPECT_EQ(stored(key(""), "Off").bytes, std::string("False", 6));
}

TEST_F(RegistryWrites, StringStoresTextWithItsTerminatorAndTakesTheCallersCase) {
  pdatest::regSetString(key("Params"), "VisaAddress", "old");
  auto node = create(SorrelParamsBaseType);
  ASSERT_EQ(node->setValueString("VISAADDRESS", "GPIB0::1"), 1);
  EXPECT_EQ(values(*node), (Map{{"VISAADDRESS", "GPIB0::1"}}));
  Stored s = stored(key("Params"), "VisaAddress");
  EXPECT_EQ(s.type, REG_SZ);
  EXPECT_EQ(s.bytes, std::string("GPIB0::1", 9));
  ASSERT_EQ(node->setValueString("Empty", ""), 1);
  EXPECT_EQ(stored(key("Params"), "Empty").bytes, std::string(1, '\0'));
}

TEST_F(RegistryWrites, NullValueDeletesAndMissingValuesCannotBeDeleted) {
  const std::string k = key("Params");
  pdatest::regSetString(k, "A", "1");
  pdatest::regSetString(k, "B", "2");
  auto node = create(SorrelParamsBaseType);
  ASSERT_EQ(values(*node).size(), 2u);

  EXPECT_EQ(node->setValueString("a", nullptr), 1);
  EXPECT_FALSE(stored(k, "A").found);
  EXPECT_EQ(values(*node), (Map{{"B", "2"}}));

  EXPECT_EQ(node->deleteName("Missing"), 0);
  EXPECT_EQ(node->setValueString("A", nullptr), 0);  // already gone
  EXPECT_EQ(node->deleteName("B"), 1);
  EXPECT_FALSE(stored(k, "B").found);
  EXPECT_EQ(node->setValueString(nullptr, "x"), 0);  // a null name writes nothing
  EXPECT_EQ(node->setValueInt32(nullptr, 1), 0);
}

#if !defined(_WIN32)
TEST_F(RegistryWrites, KeyThatCannotBeWrittenFailsEveryWriteAndStillReads) {
  const std::string k = key("VISAInfo");
  pdatest::regSetString(k, "Name", "kept");
  pdatest::regSetDword(k, "Count", 3);
  readOnly(true);
  auto node = create(VisaInfoBaseType);
  EXPECT_EQ(PdaTestAccess::KestRegistry_writeKey(*node), nullptr);
  ASSERT_NE(PdaTestAccess::KestRegistry_readKey(*node), nullptr);
  const Map before = values(*node);
  ASSERT_EQ(before.size(), 2u);

  EXPECT_EQ(node->setValueString("Name", "changed"), 0);
  EXPECT_EQ(node->setValueInt32("Count", 9), 0);
  EXPECT_EQ(node->deleteName("Name"), 0);
  EXPECT_EQ(values(*node), before);
  EXPECT_EQ(stored(k, "Name").bytes, std::string("kept", 5));
}
#endif

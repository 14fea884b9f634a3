// The registry store's trees: the I/O configuration below the base key, the
// alias root, the generic builder and the roots that CreateInstance makes.
#include <iterator>

#include <gtest/gtest.h>

#include "Machine.h"

using namespace regtest;
using Map = std::map<std::string, std::string>;

namespace {

std::vector<std::string> childNames(IKestBase& node) {
  std::vector<std::string> names;
  for (const auto& entry : *node.SubKeyMap()) names.push_back(entry.first);
  return names;
}

KestRegistry& child(IKestBase& node, const char* name) {
  int found = 0;
  auto it = node.findMap(name, &found);
  if (!found) throw std::runtime_error(std::string("no child ") + name);
  return dynamic_cast<KestRegistry&>(*it->second);
}

std::string text(const std::string& k, const std::string& name) {
  std::string bytes;
  unsigned int type = 0;
  if (!pdatest::regGet(k, name, &type, &bytes)) return "<missing>";
  if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
  return bytes.substr(0, bytes.find('\0'));
}

bool keyExists(const std::string& k) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, k.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(h);
  return true;
}

// The three flags as the interface key holds them.
std::vector<std::string> flags(const std::string& intfKey) {
  return {text(intfKey, "SupportsIntfc"), text(intfKey, "SupportsMemacc"),
          text(intfKey, "SupportsBackplane")};
}

}  // namespace

struct RegistryTree : WithMachine {};

TEST_F(RegistryTree, FlagsFollowTheInterfaceTypeIgnoringCase) {
  const struct {
    const char* type;
    std::vector<std::string> flags;
  } cases[] = {{"gpib-vxi", {"False", "True", "True"}},   {"Pxi", {"False", "True", "True"}},
               {"VXI", {"False", "True", "True"}},        {"gpib", {"True", "False", "False"}},
               {"GPIB-USB", {"False", "False", "False"}}, {"", {"False", "False", "False"}}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string sub = "INTF" + std::to_string(n++);
    pdatest::regSetString(key(sub), "VISAIntfType", c.type);
  }
  auto root = create(KestConfigBaseType);
  ASSERT_EQ(root->SubKeyMap()->size(), std::size(cases));
  n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(flags(key("INTF" + std::to_string(n++))), c.flags);
  }
}

// Only the "INTF..." subkeys are children, each under its VISA name (else its
// "Name", else the key's name), with its flags written to its key; devices
// take the interface's VISA name as prefix.
TEST_F(RegistryTree, InterfacesUnderTheirIdsWithTheirFlagsAndDevices) {
  pdatest::regSetString(key("INTF3"), "VISAName", "GPIB3");
  pdatest::regSetString(key("INTF3"), "VISAIntfType", "GPIB");
  pdatest::regSetString(key("INTF3\\dev1"), "Addr", "1");
  pdatest::regSetString(key("INTF3\\dev1\\Sub"), "S", "1");
  pdatest::regSetString(key("intf9"), "Name", "gpib9");
  pdatest::regSetString(key("intf9\\devA"), "Addr", "2");
  pdatest::regSetString(key("INTF7\\devB"), "Addr", "3");
  pdatest::regSetString(key("Params"), "P", "1");
  pdatest::regSetString(key("Interfaces"), "X", "1");  // "Inte...", not "INTF..."
  pdatest::regSetString(key("VISAInfo"), "V", "1");

  auto root = create(KestInfoBaseType);
  EXPECT_EQ(childNames(*root), (std::vector<std::string>{"GPIB3", "gpib9", "INTF7"}));
  KestRegistry& gpib3 = child(*root, "gpib3");
  EXPECT_STREQ(gpib3.RecordType(), "Interface");
  EXPECT_STREQ(gpib3.keyName(), "INTF3");
  EXPECT_EQ(gpib3.ParentPointer(), root.get());
  EXPECT_EQ(gpib3.NameValueMap()->at("SupportsIntfc"), "True");  // the map holds what was written
  EXPECT_EQ(childNames(gpib3), (std::vector<std::string>{"dev1"}));
  KestRegistry& dev1 = child(gpib3, "DEV1");
  EXPECT_STREQ(dev1.RecordId(), "GPIB3::dev1");
  EXPECT_STREQ(dev1.RecordType(), "Instrument");
  EXPECT_STREQ(dev1.ParentId(), "GPIB3");
  EXPECT_EQ(dev1.ParentPointer(), &gpib3);
  // Below a device the generic builder gives plain nodes.
  EXPECT_STREQ(child(dev1, "Sub").RecordType(), "");
  EXPECT_STREQ(child(child(*root, "gpib9"), "devA").ParentId(), "gpib9");
  EXPECT_STREQ(child(child(*root, "INTF7"), "devB").RecordId(), "::devB");
}

TEST_F(RegistryTree, IdsUpToTheBufferLimitAreKeptWhole) {
  const std::string longest(255, 'V'), tooLong(256, 'W');
  pdatest::regSetString(key("INTF1"), "VISAName", longest);
  pdatest::regSetString(key("INTF1\\d"), "A", "1");
  pdatest::regSetString(key("INTF2"), "VISAName", tooLong);  // does not fit: "Name" is used
  pdatest::regSetString(key("INTF2"), "Name", "second");
  auto root = create(KestInfoBaseType);
  EXPECT_EQ(childNames(*root), (std::vector<std::string>{"second", longest}));
  EXPECT_EQ(child(child(*root, longest.c_str()), "d").RecordId(), longest + "::d");
}

TEST_F(RegistryTree, AliasesSubstituteTheInterfaceTypeInMemoryOnly) {
  pdatest::regSetString(key("Aliases"), "A", "B");
  pdatest::regSetString(key("Aliases"), "", "fromDefault");
  pdatest::regSetString(key("INTF1"), "Interface", "a");
  pdatest::regSetString(key("INTF2"), "Interface", "C");
  pdatest::regSetString(key("INTF3"), "VISAName", "NoInterface");
  pdatest::regSetString(key("Aliases"), "E", "");
  pdatest::regSetString(key("INTF4"), "Interface", "e");

  auto root = create(KestInfoBaseType);
  ASSERT_EQ(root->SubKeyMap()->size(), 4u);                                 // "Aliases" is no child
  EXPECT_EQ(child(*root, "INTF1").rawNameValueMap().at("Interface"), "B");  // ignoring case
  EXPECT_EQ(text(key("INTF1"), "Interface"), "a");
  EXPECT_EQ(child(*root, "INTF2").rawNameValueMap().at("Interface"), "C");
  // An empty substitute is applied like any other.
  EXPECT_EQ(child(*root, "INTF4").rawNameValueMap().at("Interface"), "");
  EXPECT_EQ(text(key("INTF4"), "Interface"), "e");
  // Without an "Interface" value nothing is substituted, not even the
  // table's unnamed default.
  EXPECT_EQ(child(*root, "NoInterface").NameValueMap()->count("Interface"), 0u);
}

TEST_F(RegistryTree, BuildingCreatesNoAliasesKeyAndTwoInterfacesWithOneIdKeepTheLater) {
  pdatest::regSetString(key("INTF1"), "VISAName", "GPIB0");
  pdatest::regSetString(key("INTF2"), "VISAName", "gpib0");
  pdatest::regSetString(key("INTF2\\dev"), "A", "1");
  auto root = create(KestInfoBaseType);
  ASSERT_EQ(childNames(*root), (std::vector<std::string>{"GPIB0"}));
  KestRegistry& kept = child(*root, "GPIB0");
  EXPECT_STREQ(kept.keyName(), "INTF2");
  EXPECT_STREQ(child(kept, "dev").ParentId(), "gpib0");
  EXPECT_FALSE(keyExists(key("Aliases")));
  // Both keys were written, the replaced one too.
  EXPECT_EQ(text(key("INTF1"), "SupportsIntfc"), "False");
}

#if !defined(_WIN32)
TEST_F(RegistryTree, InterfaceThatCannotBeWrittenKeepsItsStoredFlags) {
  pdatest::regSetString(key("INTF1"), "VISAIntfType", "GPIB");
  pdatest::regSetString(key("INTF1"), "SupportsIntfc", "Old");
  readOnly(true);
  auto root = create(KestInfoBaseType);
  KestRegistry& intf = child(*root, "INTF1");
  EXPECT_EQ(values(intf), (Map{{"SupportsIntfc", "Old"}, {"VISAIntfType", "GPIB"}}));
  EXPECT_EQ(flags(key("INTF1")), (std::vector<std::string>{"Old", "<missing>", "<missing>"}));
}
#endif

TEST_F(RegistryTree, AliasRootHasExactlyTheTwoAliasKeys) {
  pdatest::regSetString(key("Alias\\Other"), "X", "1");  // never read
  pdatest::regSetString(key("Devices"), "scope", "GPIB0::7::INSTR");
  pdatest::regSetString(key("Devices\\Nested"), "N", "1");

  auto root = create(AliasBaseType);
  EXPECT_EQ(childNames(*root), (std::vector<std::string>{"BrixAlias", "VisaAlias"}));
  EXPECT_EQ(root->setValueString("X", "1"), 0);
  KestRegistry& brix = child(*root, "BrixAlias");
  KestRegistry& visa = child(*root, "VisaAlias");
  EXPECT_STREQ(brix.keyName(), "Devices");
  EXPECT_STREQ(visa.keyName(), "VisaDevices");
  EXPECT_STREQ(visa.RecordType(), "Alias");
  EXPECT_EQ(brix.ParentPointer(), nullptr);
  EXPECT_EQ(values(brix), (Map{{"scope", "GPIB0::7::INSTR"}}));
  EXPECT_EQ(childNames(brix), (std::vector<std::string>{"Nested"}));
  EXPECT_EQ(visa.setValueString("dmm", "TCPIP0::h::INSTR"), 1);
  EXPECT_EQ(text(key("VisaDevices"), "dmm"), "TCPIP0::h::INSTR");
}

TEST_F(RegistryTree, GenericBuilderMakesOneChildPerSubkey) {
  pdatest::regSetString(key("Params\\Server1"), "Port", "5025");
  pdatest::regSetString(key("Params\\server2\\Deep"), "D", "1");
  pdatest::regSetString(key("Params\\INTFlike"), "I", "1");

  auto root = create(SorrelParamsBaseType);
  EXPECT_EQ(childNames(*root), (std::vector<std::string>{"INTFlike", "Server1", "server2"}));
  // A root's rule: a subkey named "INTF..." is an interface by its name alone.
  EXPECT_STREQ(child(*root, "intflike").RecordType(), "Interface");
  EXPECT_EQ(child(child(*root, "server2"), "Deep").getValueInt32("D", 0), 1);
}

TEST_F(RegistryTree, CreateInstanceGivesTheRootOfEachType) {
  const struct {
    KestBaseType type;
    const char* keyName;
    const char* recordType;
    const char* created;
  } cases[] = {{KestInfoBaseType, "KestInfo", "KestInfo", ""},
               {VisaInfoBaseType, "VISAInfo", "", "VISAInfo"},
               {KestConfigBaseType, "KestInfo", "KestInfo", ""},
               {SorrelParamsBaseType, "Params", "SorrelParams", "Params"},
               {AliasBaseType, "Alias", "", nullptr},
               {InstrumentFavoritesBaseType, "InstrumentFavorites", "", "InstrumentFavorites"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyName);
    auto root = create(c.type);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->keyName(), c.keyName);
    EXPECT_STREQ(root->RecordId(), c.keyName);
    EXPECT_STREQ(root->RecordType(), c.recordType);
    EXPECT_TRUE(!c.created || keyExists(key(c.created)));
  }
  EXPECT_FALSE(keyExists(key("Alias")));
  for (int type : {0, 7, -1}) EXPECT_EQ(KestRegistry::CreateInstance(KestBaseType(type)), nullptr);
}

namespace {
// A node of another store, to parent a registry node.
struct PlainNode : IKestBase {
  void reInitialize() override {}
  void initializeSubKeyMap() override {}
  void initializeNameValueMap() override {}
};
}  // namespace

TEST_F(RegistryTree, ChildrenOpenKeysOnlyBelowARegistryParent) {
  pdatest::regSetString(key("VISAInfo"), "V", "1");
  pdatest::regSetString(key("VISAInfo\\Sub"), "S", "1");
  auto root = create(VisaInfoBaseType);
  Node<IKestBase> made(PdaTestAccess::KestRegistry_newNode(*root, root.get(), "Sub"));
  EXPECT_EQ(made->getValueInt32("S", 0), 1);
  // A child never creates its key, only opens one that exists.
  Node<> missing(PdaTestAccess::KestRegistry_newNode(*root, root.get(), "Missing"));
  EXPECT_EQ(PdaTestAccess::KestRegistry_writeKey(*missing), nullptr);
  EXPECT_FALSE(keyExists(key("VISAInfo\\Missing")));

  PlainNode plain;
  Node<> orphan(PdaTestAccess::KestRegistry_newNode(*root, &plain, "VISAInfo"));
  EXPECT_EQ(PdaTestAccess::KestRegistry_readKey(*orphan), nullptr);
  EXPECT_EQ(orphan->ParentPointer(), &plain);
  EXPECT_TRUE(orphan->NameValueMap()->empty());
}

TEST_F(RegistryTree, RootKeyPathsThatDoNotFitAreRefusedNotCut) {
  // The base key has 39 characters; with "\" and 215 more the path has 255.
  const std::string fits(215, 'f'), tooLong(216, 'g');
  auto maker = create(VisaInfoBaseType);
  Node<> a(PdaTestAccess::KestRegistry_newNode(*maker, nullptr, fits.c_str()));
  EXPECT_EQ(a->setValueString("X", "1"), 1);
  EXPECT_EQ(text(key(fits), "X"), "1");

  Node<> b(PdaTestAccess::KestRegistry_newNode(*maker, nullptr, tooLong.c_str()));
  EXPECT_EQ(PdaTestAccess::KestRegistry_readKey(*b), nullptr);
  EXPECT_EQ(b->setValueString("X", "1"), 0);
  EXPECT_STREQ(b->keyName(), tooLong.c_str());
  EXPECT_FALSE(keyExists(key(tooLong.substr(0, 215))));
}

// Reading: name/value tables with the placeholder pair, the configuration
// tree and its drop rules, one configuration record, the PXI tables, the
// aliases, forgetting, a file that is not a database, and statements that a
// read must never leave open.
#include "Machine.h"

using namespace sqltest;

namespace {

IKestBase* child(IKestBase& node, const char* name) {
  int found = 0;
  auto it = node.findMap(name, &found);
  return found ? it->second : nullptr;
}

// Another process writes the file at once (the client has no busy timeout):
// it fails if this process still holds a read lock.
void expectNoReadLock(const std::string& db, const std::string& table) {
  pdatest::sqlite(db, "BEGIN EXCLUSIVE; DELETE FROM " + table + " WHERE 0; COMMIT;");
}

}  // namespace

struct SQLiteRead : WithDatabase {};

TEST_F(SQLiteRead, NameValueTablesAndThePlaceholder) {
  pdatest::sqlite(db,
                  "INSERT INTO KestInfo VALUES(NULL,'A','1');"
                  "INSERT INTO KestInfo VALUES(NULL,'a','2');"
                  "INSERT INTO KestInfo VALUES(NULL,'Empty',NULL);"
                  "INSERT INTO KestInfo VALUES(NULL,NULL,'x');"
                  "INSERT INTO KestInfo VALUES(NULL,'','y');");
  Node info = create(KestInfoBaseType);
  EXPECT_EQ(dump(*info), "A=2;Empty=;");  // first spelling, last value

  Node visa = create(VisaInfoBaseType);  // empty table
  EXPECT_EQ(text(*visa, "FAKENAME***"), "FAKEVALUE***");
  pdatest::sqlite(db, "INSERT INTO VisaInfo VALUES(NULL,'Late','1');");
  EXPECT_EQ(visa->getValueInt32("Late", 0), 0);  // read once
  visa->reInitialize();
  EXPECT_EQ(visa->getValueInt32("Late", 0), 1);
  expectNoReadLock(db, "KestInfo");
  EXPECT_TRUE(events().empty());
}

TEST_F(SQLiteRead, ConfigurationTreeAndItsDropRules) {
  pdatest::sqlite(
      db, configRows("k01|RecordType|Interface;k01|PersistentId|P1;k01|VISAName|GPIB0;"
                     "k02|RecordType|VxiInterfaceEx;k02|PersistentId|P2;k03|RecordType|Device;"
                     "k03|ParentHashKey|P1;k03|VisaAddress|GPIB0::5::INSTR;k03|Tag|first;"
                     "k04|RecordType|interface;k04|VISAName|Lower;k05|RecordType|Device;"
                     "k05|ParentHashKey|C1;k05|VisaAddress|ToChassis;k06|RecordType|Chassis;"
                     "k06|PersistentId|C1;k06|ChassisSN|SN1;k07|Foo|bar;k08||no name;"
                     "|RecordType|Interface;|VISAName|Ghost;k09|RecordType|Interface;"
                     "k09|PersistentId|P9;k09|VISAName|gpib0;k10|RecordType|Device;"
                     "k10|ParentHashKey|P1;k10|VisaAddress|GPIB0::5::INSTR;k10|Tag|last;"
                     "k11|RecordType|Device;k11|ParentHashKey|P9;k11|VisaAddress|UnderReplaced;"
                     "k12|RecordType|PModule;k12|PCIBusNumber|7;k13|RecordType|SModule;"
                     "k13|ChassisSN|SN2;k14|RecordType|Interface" +
                     std::string(300, 'x') +
                     ";k14|VISAName|TooLong;"
                     // Two interfaces share a persistent id: the first record wins the device.
                     "k20|RecordType|Interface;k20|PersistentId|PX;k20|VISAName|ASRL1;"
                     "k21|RecordType|Interface;k21|PersistentId|PX;k21|VISAName|ASRL2;"
                     "k22|RecordType|Device;k22|ParentHashKey|PX;k22|VisaAddress|ASRL::X"));
  Node root = create(KestConfigBaseType);
  EXPECT_EQ(children(*root), "7;ASRL1;ASRL2;gpib0;P2;SN1;SN2;");  // first spelling stays
  EXPECT_TRUE(root->rawNameValueMap().empty());

  IKestBase* gpib = child(*root, "gpib0");
  ASSERT_NE(gpib, nullptr);
  EXPECT_STREQ(gpib->PersistentId(), "P1");  // k01 sorts before k09
  EXPECT_STREQ(gpib->RecordType(), "Interface");
  EXPECT_EQ(children(*gpib), "GPIB0::5::INSTR;");
  IKestBase* device = child(*gpib, "GPIB0::5::INSTR");
  EXPECT_STREQ(device->RecordType(), "Instrument");
  EXPECT_EQ(device->ParentPointer(), gpib);
  EXPECT_STREQ(device->ParentId(), "GPIB0");
  EXPECT_EQ(text(*device, "Tag"), "last");

  EXPECT_STREQ(child(*root, "P2")->RecordType(), "Interface");
  EXPECT_STREQ(child(*root, "SN1")->RecordType(), "Chassis");
  EXPECT_STREQ(child(*root, "7")->RecordType(), "PModules");
  EXPECT_STREQ(child(*root, "SN2")->RecordType(), "SModules");
  EXPECT_EQ(children(*child(*root, "ASRL1")), "ASRL::X;");
  EXPECT_EQ(children(*child(*root, "ASRL2")), "");

  // Forgetting drops the tree; the next look-up builds it from the table again.
  pdatest::sqlite(db, configRows("k30|RecordType|Interface;k30|VISAName|USB0"));
  root->reInitialize();
  EXPECT_NE(child(*root, "USB0"), nullptr);
  expectNoReadLock(db, "ConfigData");
}

TEST_F(SQLiteRead, OneConfigurationRecordIsSelectedByItsKeyAsPassed) {
  // An interface in the table too: only the configuration's root lists it.
  pdatest::sqlite(db, configRows("o'k|A|1;o'k|B|;other|A|2;IF1|RecordType|Interface"));
  for (const char* key : {"o'k", "x' OR '1'='1"}) {
    SCOPED_TRACE(key);
    Node node(KestSQLite::CreateInstance(KestConfigBaseType));
    node->setRecordType("Interface");
    node->setPersistentId(key);
    EXPECT_EQ(dump(*node), key[0] == 'o' ? "A=1;B=;" : "");
    EXPECT_EQ(children(*node), "");
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(SQLiteRead, PxiTablesGiveOneChildPerRecord) {
  const std::string pxi = create(ChassisBaseType)->getDbPath();  // made with its tables
  pdatest::sqlite(pxi,
                  "INSERT INTO Chassis VALUES(NULL,'SN1','RecordType','Chassis'),"
                  "(NULL,'SN1','ChassisSN','SN1'),(NULL,'SN1','Vendor','V'),"
                  "(NULL,'SN2','RecordType','PXI Chassis'),(NULL,'SN2','ChassisSN','SN2'),"
                  "(NULL,'SN3','Vendor','no type'),(NULL,'SN4','RecordType','Rack');"
                  "INSERT INTO PModules VALUES(NULL,'m','RecordType','PModule'),"
                  "(NULL,'m','PCIBusNumber','3');");
  Node chassis = create(ChassisBaseType);
  EXPECT_EQ(children(*chassis), "SN1;SN2;");
  EXPECT_EQ(dump(*child(*chassis, "SN1")), "ChassisSN=SN1;RecordType=Chassis;Vendor=V;");
  Node modules = create(PModulesBaseType);
  EXPECT_STREQ(child(*modules, "3")->RecordType(), "PModules");
  EXPECT_EQ(children(*create(SModulesBaseType)), "");
  expectNoReadLock(pxi, "Chassis");
  for (const pdatest::Event& e : events()) EXPECT_EQ(e.type, "INFORMATION") << e.message;
}

TEST_F(SQLiteRead, AliasesByKindIgnoringCase) {
  Node none = create(AliasBaseType);
  EXPECT_EQ(dump(*none), "FAKENAME***=FAKEVALUE***;");
  EXPECT_EQ(children(*none), "");

  pdatest::sqlite(db,
                  "INSERT INTO InstrAliasInfo VALUES(NULL,'scope','AliasVisaId','GPIB0::1'),"
                  "(NULL,'dmm','aliasvisaid','GPIB0::2'),(NULL,'SCOPE','AliasVisaId','GPIB0::3'),"
                  "(NULL,'other','AliasOther','x'),(NULL,'','AliasVisaId','y'),"
                  "(NULL,'nul','AliasVisaId',NULL);");
  Node aliases = create(AliasBaseType);
  EXPECT_EQ(children(*aliases), "BrixAlias;VisaAlias;");
  EXPECT_EQ(dump(*child(*aliases, "VisaAlias")), "dmm=GPIB0::2;nul=;scope=GPIB0::3;");
  // The empty Brix child reads the alias table itself at its first use.
  IKestBase* brix = child(*aliases, "BrixAlias");
  EXPECT_EQ(brix->getValueInt32("scope", -1), -1);
  EXPECT_STREQ(brix->RecordId(), "Alias");
  EXPECT_EQ(children(*brix), "BrixAlias;VisaAlias;");
  expectNoReadLock(db, "InstrAliasInfo");
}

TEST_F(SQLiteRead, AFileThatIsNotADatabase) {
  std::ofstream(db, std::ios::trunc) << std::string(2000, 'x');
  Node info = create(KestInfoBaseType);
  EXPECT_EQ(dump(*info), "FAKENAME***=FAKEVALUE***;");
  EXPECT_EQ(countEvents("ERROR",
                        "readTableDataIntoNameValueMap: Query 'SELECT NAME, VALUE FROM "
                        "'KestInfo';' failed.\nerror=26\n(file is not a database)\n"),
            1);
  Node config = create(KestConfigBaseType);
  EXPECT_EQ(children(*config), "");
  EXPECT_EQ(eventsStarting("readTopLevelConfigInfo: config Query 'SELECT IDKEY, NAME, VALUE FROM "
                           "ConfigData ORDER BY IDKEY;' failed.\nerror=26\n")
                .size(),
            1u);
  EXPECT_EQ(info->setValueString("A", "1"), 0);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(db).rdbuf()), {}),
            std::string(2000, 'x'));
}

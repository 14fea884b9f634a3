// The remote PXI database: created with its four tables and ten bus rows
// when missing, never touched when present, and made again when deleted while
// this process had it open. Its first use by many threads and a creation that
// fails are sharing_test's.
#include <cstdio>

#include "TestAccess.h"

using namespace sqltest;

namespace {

// The schema as sqlite_master lists it, one "name|sql" line per table.
std::string table(const std::string& name, bool keyed) {
  return name + "|CREATE TABLE " + name + "(ID INTEGER PRIMARY KEY, " +
         (keyed ? "IDKEY TEXT NOT NULL, " : "") + "NAME TEXT NOT NULL, VALUE TEXT NOT NULL)\n";
}
const std::string kSchema = table("Chassis", true) + table("PModules", true) +
                            table("PciBuses", false) + table("SModules", true);

std::string busRows() {
  std::string rows;
  for (int bus = 0; bus < 20; bus += 2) rows += "Bus" + std::to_string(bus) + "|0\n";
  return rows;
}

std::string schemaOf(const std::string& db) {
  return pdatest::sqlite(db, "SELECT name, sql FROM sqlite_master ORDER BY name;");
}

bool exists(const std::string& path) {
  return std::ifstream(path).good();
}

}  // namespace

// A machine with the suite installed, and where its remote PXI database goes.
struct SQLitePxi : ::testing::Test {
  pdatest::TempMachine machine;
  const std::string db = (machine.installSuite(), machine.pxiDir() + "RemotePXI.db");
};

TEST_F(SQLitePxi, MissingDatabaseIsCreatedWithItsTablesAndBusRows) {
  pdatest::run("rm -rf '" + machine.pxiDir() + "'");  // the folder is made too
  Node chassis = create(ChassisBaseType);
  ASSERT_TRUE(exists(db));
  EXPECT_EQ(schemaOf(db), kSchema);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT NAME, VALUE FROM PciBuses ORDER BY ID;"), busRows());
  EXPECT_EQ(events().size(), 10u);  // one report of each bus row's commit
  // The creation's statements and connection are gone; the node works on.
  EXPECT_EQ(PdaTestAccess::KestSQLite_cachedBegin(*chassis), nullptr);
  chassis->setRecordId("SN1");
  EXPECT_EQ(chassis->setValueString("Vendor", "V"), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT IDKEY, NAME, VALUE FROM Chassis;"), "SN1|Vendor|V\n");

  // A table that exists already is not created again: reported, rolled back.
  EXPECT_EQ(PdaTestAccess::KestSQLite_createPxiInfoTable(*chassis, "Chassis"), 0);
  const std::string create =
      "CREATE TABLE Chassis(ID INTEGER PRIMARY KEY, IDKEY TEXT NOT NULL, "
      "NAME TEXT NOT NULL, VALUE TEXT NOT NULL);";
  EXPECT_EQ(countEvents("ERROR", "createPxiInfoTable(): prepare of Command '" + create +
                                     "' failed.\nBEGIN error=1\n(SQL logic error)\n"),
            1);
  EXPECT_EQ(schemaOf(db), kSchema);
}

TEST_F(SQLitePxi, ExistingDatabaseIsNeitherOpenedNorChanged) {
  pdatest::sqlite(db, "CREATE TABLE Other(X);");
  Node chassis = create(ChassisBaseType);
  EXPECT_EQ(PdaTestAccess::KestSQLite_binding(), nullptr);
  EXPECT_EQ(schemaOf(db), "Other|CREATE TABLE Other(X)\n");
}

#if !defined(_WIN32)
// Windows does not delete a file that a connection holds open. On POSIX the
// connection of this process (the read-only one after a read, or the
// read-write one alone; one process each) is left to the deleted file.
void expectMadeAgainAndUsedAnew(const std::string& db, bool readWrite) {
  Node first = create(ChassisBaseType);
  if (readWrite)
    PdaTestAccess::KestSQLite_connect(*first, true);
  else
    EXPECT_EQ(children(*first), "");
  ASSERT_EQ(std::remove(db.c_str()), 0);
  Node again = create(ChassisBaseType);  // finds it missing and makes it anew
  ASSERT_TRUE(exists(db));
  again->setRecordId("SN2");
  EXPECT_EQ(again->setValueString("RecordType", "Chassis"), 1);
  EXPECT_EQ(again->setValueString("ChassisSN", "SN2"), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT IDKEY, NAME, VALUE FROM Chassis;"),
            "SN2|RecordType|Chassis\nSN2|ChassisSN|SN2\n");
  EXPECT_EQ(children(*create(ChassisBaseType)), "SN2;");
}

TEST_F(SQLitePxi, ADatabaseDeletedAfterAReadIsMadeAgainAndReadAnew) {
  expectMadeAgainAndUsedAnew(db, false);
}

TEST_F(SQLitePxi, ADatabaseDeletedWhileOpenForWritingIsMadeAgainAndWrittenAnew) {
  expectMadeAgainAndUsedAnew(db, true);
}
#endif

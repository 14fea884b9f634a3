// A remote PXI database deleted while this process has it open for reading
// is made again at the next use, and every later read sees the new file, not
// the deleted one that the old connection still holds.

#include <cstdio>
#include <fstream>

#include "TestAccess.h"

using namespace sqltest;

namespace {

TEST(SQLitePxi, ADatabaseDeletedAfterAReadIsMadeAgainAndReadAnew) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  Node first = create(ChassisBaseType);
  EXPECT_EQ(children(*first), "");  // made, then read: a read connection is open
  ASSERT_EQ(std::remove(db.c_str()), 0);

  Node again = create(ChassisBaseType);  // finds it missing and makes it anew
  ASSERT_TRUE(std::ifstream(db).good());
  again->setRecordId("SN2");
  EXPECT_EQ(again->setValueString("RecordType", "Chassis"), 1);
  EXPECT_EQ(again->setValueString("ChassisSN", "SN2"), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT IDKEY, NAME, VALUE FROM Chassis;"),
            "SN2|RecordType|Chassis\nSN2|ChassisSN|SN2\n");
  Node reader = create(ChassisBaseType);
  EXPECT_EQ(children(*reader), "SN2;");
}

}  // namespace

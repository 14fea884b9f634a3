// Writing: rows replaced inside transactions and seen by the sqlite3 client,
// record keys, quotes, and rollbacks that keep the old value. Many writers at
// once are the stress program's and sharing_test's.
#include "Machine.h"

using namespace sqltest;

namespace {
std::string query(const std::string& db, const std::string& sql) {
  return pdatest::sqlite(db, sql);
}
}  // namespace

struct SQLiteWrite : WithDatabase {};

TEST_F(SQLiteWrite, ValuesReplaceTheirRowInTheDatabaseAndTheNode) {
  pdatest::sqlite(db, "INSERT INTO KestInfo VALUES(NULL,'Flag','old');");
  Node node = create(KestInfoBaseType);
  EXPECT_EQ(node->setValueBool("Flag", 2), 1);
  EXPECT_EQ(node->setValueBool("Off", 0), 1);
  EXPECT_EQ(node->setValueInt32("Level", -5), 1);
  EXPECT_EQ(query(db, "SELECT NAME, VALUE FROM KestInfo ORDER BY ID;"),
            "Flag|True\nOff|False\nLevel|-5\n");

  EXPECT_EQ(node->deleteName("Level"), 1);
  EXPECT_EQ(node->deleteName("NeverStored"), 1);
  EXPECT_EQ(node->setValueString(nullptr, "x"), 0);
  EXPECT_EQ(node->setValueString("", "x"), 0);
  EXPECT_EQ(node->deleteName(nullptr), 0);
  EXPECT_EQ(query(db, "SELECT count(*) FROM KestInfo;"), "2\n");
  EXPECT_TRUE(events().empty());
}

TEST_F(SQLiteWrite, QuotesAreStoredAndMatchedAsPassed) {
  pdatest::sqlite(db, "INSERT INTO KestInfo VALUES(NULL,'Keep','1');");
  Node info = create(KestInfoBaseType);
  EXPECT_EQ(info->setValueString("O'Brien", "it's ''quoted'"), 1);
  EXPECT_EQ(info->deleteName("x' OR '1'='1"), 1);
  EXPECT_EQ(query(db, "SELECT NAME, VALUE FROM KestInfo ORDER BY ID;"),
            "Keep|1\nO'Brien|it's ''quoted'\n");
}

TEST_F(SQLiteWrite, AFailedStepRollsBackAndKeepsTheOldValue) {
  pdatest::sqlite(
      db,
      "DROP TABLE KestInfo; DROP TABLE VisaInfo;"
      "CREATE TABLE KestInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT, EXTRA TEXT);"
      "INSERT INTO KestInfo VALUES(NULL,'A','old',NULL);"
      "CREATE TABLE VisaInfo(ID INTEGER PRIMARY KEY, NAME TEXT,"
      " VALUE TEXT CHECK(VALUE <> 'bad'));"
      "INSERT INTO VisaInfo VALUES(NULL,'M','good');");
  Node info = create(KestInfoBaseType);
  EXPECT_EQ(info->setValueString("A", "new"), 0);
  EXPECT_EQ(text(*info, "A"), "old");
  EXPECT_EQ(query(db, "SELECT VALUE FROM KestInfo WHERE NAME = 'A';"), "old\n");
  const std::string insert = "INSERT INTO KestInfo VALUES(NULL, 'A', 'new');";
  EXPECT_EQ(countEvents("ERROR", "setValueString: prepare of Command '" + insert +
                                     "' failed.\nBEGIN error=1\n(SQL logic error)\n"),
            1);
  EXPECT_EQ(countEvents("WARNING", "setValueString: ROLLBACK '" + insert +
                                       "'.\nROLLBACK result=101\n(SQLITE_DONE)\n"),
            1);

  Node visa = create(VisaInfoBaseType);
  EXPECT_EQ(visa->setValueString("M", "bad"), 0);
  EXPECT_EQ(text(*visa, "M"), "good");
  EXPECT_EQ(countEvents("ERROR",
                        "setValueString: INSERT 'INSERT INTO VisaInfo VALUES(NULL, 'M', "
                        "'bad');' failed.\nerror=19\n(constraint failed)\n"),
            1);
  // Nothing was left open: both nodes write again, and so does another process.
  EXPECT_EQ(visa->setValueString("M", "fine"), 1);
  EXPECT_EQ(info->deleteName("A"), 1);
  pdatest::sqlite(db, "BEGIN EXCLUSIVE; INSERT INTO VisaInfo VALUES(NULL,'Z','1'); COMMIT;");
  EXPECT_EQ(query(db, "SELECT NAME, VALUE FROM VisaInfo ORDER BY NAME;"), "M|fine\nZ|1\n");
}

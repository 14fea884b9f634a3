// The remote PXI database: created with its four tables and ten bus rows
// when missing, once however many threads and processes find it missing,
// never touched when present, deleted again when it cannot be built, and made
// again when deleted while this process had it open (later reads and writes
// use the new file, not the deleted one an old connection still holds).
#include <cstdio>

#include "TestAccess.h"

#if !defined(_WIN32)
#  include <signal.h>
#  include <sys/resource.h>
#endif

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
  std::vector<pdatest::Event> all = events();
  ASSERT_EQ(all.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(all[i].type, "INFORMATION");
    EXPECT_EQ(all[i].message,
              "createPxiInfoTable(): COMMIT 'INSERT INTO PciBuses VALUES(NULL, 'Bus" +
                  std::to_string(2 * i) + "', '0');' succeeded.\nresult=101\n(SQLITE_DONE)\n");
  }
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
  EXPECT_EQ(countEvents("WARNING", "createPxiInfoTable(): ROLLBACK '" + create +
                                       "'.\nROLLBACK result=101\n(SQLITE_DONE)\n"),
            1);
  EXPECT_EQ(schemaOf(db), kSchema);
}

TEST_F(SQLitePxi, ExistingDatabaseIsNeitherOpenedNorChanged) {
  pdatest::sqlite(db, "CREATE TABLE Other(X);");
  Node chassis = create(ChassisBaseType);
  Node buses = create(PciBusesBaseType);
  EXPECT_EQ(PdaTestAccess::KestSQLite_binding(), nullptr);
  EXPECT_EQ(schemaOf(db), "Other|CREATE TABLE Other(X)\n");
}

#if !defined(_WIN32)
TEST_F(SQLitePxi, ThreadsAndProcessesThatFindItMissingCreateItOnce) {
  std::vector<pid_t> processes;
  for (int p = 0; p < 2; ++p) {
    processes.push_back(spawn([] {
      std::vector<std::thread> threads;
      for (int t = 0; t < 3; ++t)
        threads.emplace_back([t] { create(t == 0 ? ChassisBaseType : PciBusesBaseType); });
      for (std::thread& thread : threads) thread.join();
      return 0;
    }));
  }
  for (pid_t process : processes) EXPECT_EQ(join(process), 0);
  EXPECT_EQ(schemaOf(db), kSchema);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT NAME, VALUE FROM PciBuses ORDER BY ID;"), busRows());
  for (const pdatest::Event& e : events()) EXPECT_EQ(e.type, "INFORMATION") << e.message;
}

// A file-size limit lets the file and its first table be written but not the
// second: the creation fails at "PModules", and the file is deleted again.
TEST_F(SQLitePxi, DatabaseThatCannotBeBuiltIsDeleted) {
  pid_t child = spawn([this] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {10000, 10000};
    setrlimit(RLIMIT_FSIZE, &limit);
    Node chassis = create(ChassisBaseType);
    return exists(db) ? 1 : 0;
  });
  EXPECT_EQ(join(child), 0);
  EXPECT_FALSE(exists(db));
  EXPECT_EQ(countEvents("ERROR", "KestSQLite(): Failed to create remote 'PModules' table.\n"), 1);
  EXPECT_EQ(eventsStarting("createPxiInfoTable(): ROLLBACK 'CREATE TABLE PModules(").size(), 1u);
  EXPECT_EQ(eventsStarting("KestSQLite(): Failed").size(), 1u);

  // A later instance finds the file missing and builds it.
  Node chassis = create(ChassisBaseType);
  EXPECT_EQ(schemaOf(db), kSchema);
}
#endif

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

// Busy databases: another process (the sqlite3 client) holds a lock for a
// known time, and the store's prepares and steps are retried up to 100 times
// with a 10 ms sleep after each busy result. The binding's prepare and step
// slots are wrapped to count the calls that reach the real library.
#include <mutex>

#include "Machine.h"

using namespace sqltest;

namespace {

SQLiteDynamic::step_fn realStep;
SQLiteDynamic::prepare_v2_fn realPrepare;
std::mutex callsMutex;
std::vector<sqlite3_stmt*> steps;  // every statement stepped, in order
int prepares = 0;

int countingStep(sqlite3_stmt* statement) {
  {
    std::lock_guard<std::mutex> guard(callsMutex);
    steps.push_back(statement);
  }
  return realStep(statement);
}

int countingPrepare(sqlite3* db, const char* sql, int n, sqlite3_stmt** statement,
                    const char** tail) {
  {
    std::lock_guard<std::mutex> guard(callsMutex);
    ++prepares;
  }
  return realPrepare(db, sql, n, statement, tail);
}

// Loads the library through node and wraps its step and prepare slots.
void countCalls(KestSQLite& node) {
  PdaTestAccess::KestSQLite_load(node);
  SQLiteDynamic* lib = PdaTestAccess::KestSQLite_binding();
  ASSERT_NE(lib, nullptr);
  realStep = lib->sqlite3_step;
  realPrepare = lib->sqlite3_prepare_v2;
  lib->sqlite3_step = &countingStep;
  lib->sqlite3_prepare_v2 = &countingPrepare;
  steps.clear();
  prepares = 0;
}

int stepsOf(sqlite3_stmt* statement) {
  int n = 0;
  for (sqlite3_stmt* s : steps) n += s == statement;
  return n;
}

// The elapsed milliseconds of a tryStep report, checking the rest of it.
double checkTryStepReport(const pdatest::Event& e, const std::string& description,
                          const std::string& timeout) {
  const std::string head =
      "tryStep: " + description + "\n Timeout value = " + timeout + " seconds\n Elapsed time = ";
  const std::string tail = " milliseconds\n tries = 100\n SQLite result=5\n(database is locked)\n";
  EXPECT_EQ(e.type, "ERROR");
  EXPECT_EQ(e.message.compare(0, head.size(), head), 0) << e.message;
  EXPECT_GT(e.message.size(), head.size() + tail.size());
  EXPECT_EQ(e.message.compare(e.message.size() - tail.size(), tail.size(), tail), 0) << e.message;
  return std::atof(e.message.c_str() + head.size());
}

}  // namespace

struct SQLiteBusy : WithDatabase {};

TEST_F(SQLiteBusy, WriteFailsAfterAHundredBusyBeginsWithoutARollback) {
  pdatest::sqlite(db, "INSERT INTO KestInfo VALUES(NULL,'A','old');");
  Node node = create(KestInfoBaseType);
  ASSERT_EQ(node->getValueInt32("A", 0), 0);  // read before the lock is taken
  countCalls(*node);
  {
    ClientLock lock(db, "BEGIN IMMEDIATE", 4.0);
    EXPECT_EQ(node->setValueString("A", "new"), 0);
    sqlite3_stmt* begin = PdaTestAccess::KestSQLite_cachedBegin(*node);
    EXPECT_EQ(stepsOf(begin), 100);
    EXPECT_EQ(steps.size(), 100u);  // nothing else was stepped: no DELETE, no ROLLBACK

    // A caller's timeout value is only reported, and then cleared.
    double timeout = 2.5;
    EXPECT_EQ(PdaTestAccess::KestSQLite_tryStep(*node, begin, "probe", &timeout), 5);
    EXPECT_EQ(timeout, 0.0);
  }
  std::vector<pdatest::Event> all = events();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_GE(checkTryStepReport(all[0], "SetValueString BEGIN IMMEDIATE", "    10.000000"), 1000.0);
  EXPECT_EQ(all[1].type, "ERROR");
  EXPECT_EQ(all[1].message,
            "setValueString: BEGIN 'INSERT INTO KestInfo VALUES(NULL, 'A', 'new');' "
            "failed.\nerror=5\n(database is locked)\n");
  EXPECT_GE(checkTryStepReport(all[2], "probe", "     2.500000"), 1000.0);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo;"), "old\n");
}

TEST_F(SQLiteBusy, WriteWaitsOutAShortLock) {
  Node node = create(KestInfoBaseType);
  node->getValueInt32("A", 0);
  countCalls(*node);
  {
    ClientLock lock(db, "BEGIN IMMEDIATE", 0.3);
    EXPECT_EQ(node->setValueString("A", "new"), 1);
  }
  const int begins = stepsOf(PdaTestAccess::KestSQLite_cachedBegin(*node));
  EXPECT_GE(begins, 2);
  EXPECT_LT(begins, 100);
  // the look-up of the name's spellings, DELETE, INSERT, COMMIT
  EXPECT_EQ(steps.size(), static_cast<std::size_t>(begins) + 4);
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(pdatest::sqlite(db, "SELECT VALUE FROM KestInfo;"), "new\n");
}

TEST_F(SQLiteBusy, ReadRetriesABusyPrepare) {
  pdatest::sqlite(db, "INSERT INTO VisaInfo VALUES(NULL,'V','4');");
  Node node = create(VisaInfoBaseType);
  countCalls(*node);
  {
    // An exclusive lock keeps a new connection from reading the schema.
    ClientLock lock(db, "BEGIN EXCLUSIVE", 0.3);
    EXPECT_EQ(node->getValueInt32("V", 0), 4);
  }
  EXPECT_GE(prepares, 2);
  EXPECT_LT(prepares, 100);
  EXPECT_TRUE(events().empty());
}

// A read that meets a database locked beyond the bound gives the caller's
// defaults this time, reports a warning, and reads again at the next access.
TEST_F(SQLiteBusy, ReadThatStaysBusyIsReportedAndTriedAgainLater) {
  pdatest::sqlite(db, "INSERT INTO VisaInfo VALUES(NULL,'V','4');");
  Node node = create(VisaInfoBaseType);
  countCalls(*node);
  {
    ClientLock lock(db, "BEGIN EXCLUSIVE", 2.5);
    EXPECT_EQ(node->getValueInt32("V", 0), 0);
    EXPECT_GE(prepares, 100);
  }
  EXPECT_EQ(dump(*node), "V=4;");
  EXPECT_EQ(countEvents("WARNING",
                        "readTableDataIntoNameValueMap: Query 'SELECT NAME, VALUE FROM "
                        "'VisaInfo';' failed.\nerror=5\n(database is locked)\n"),
            1);
  EXPECT_EQ(events().size(), 1u);
}

// The run-time binding, the per-file connections, the library-missing and
// file-missing reports, copies and closing everything; the writers' lock,
// given up by a waiter when it does not change hands within the waiter's
// patience (the waiter then holds nothing); statements prepared on a
// connection that has been closed since are never adopted; unloading the
// library closes every connection and releases SQLite.
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "Machine.h"
#include "platform/platform.h"
#include "stores/sqlite/ThreadSafety.h"

using namespace sqltest;

struct SQLiteConnections : WithDatabase {};

TEST(SQLiteBinding, BindsEveryEntryPointOfTheRealLibrary) {
  const std::string library = pdatest::sqliteLibrary();
  SQLiteDynamic lib(library.c_str());
  ASSERT_NE(lib._hModule, nullptr);
  EXPECT_EQ(lib._missingCount, 0);
  EXPECT_EQ(lib._dllPath, library);
  EXPECT_STREQ(lib.sqlite3_errstr(5), "database is locked");
  lib.unload();
  EXPECT_EQ(lib._hModule, nullptr);
  EXPECT_EQ(lib._missingCount, -1);
  EXPECT_STREQ(lib.sqlite3_errstr(5), "sqlite3_errstr function not found");
}

TEST(SQLiteBinding, MissingEntryPointsAnswerWithTheirStubs) {
  SQLiteDynamic lib(pdatest::libraryWithoutSQLite());  // loads, has none of the 17
  ASSERT_NE(lib._hModule, nullptr);
  EXPECT_EQ(lib._missingCount, 17);
  sqlite3* db = reinterpret_cast<sqlite3*>(&lib);  // must stay untouched
  sqlite3_stmt* statement = reinterpret_cast<sqlite3_stmt*>(&lib);
  EXPECT_EQ(lib.sqlite3_open_v2("x.db", &db, 6, nullptr), 1);
  EXPECT_EQ(lib.sqlite3_prepare_v2(nullptr, "SELECT 1", 9, &statement, nullptr), 1);
  EXPECT_EQ(db, reinterpret_cast<sqlite3*>(&lib));
  EXPECT_EQ(statement, reinterpret_cast<sqlite3_stmt*>(&lib));
  EXPECT_EQ(lib.sqlite3_close_v2(nullptr), 1);
  EXPECT_EQ(lib.sqlite3_column_count(nullptr), -1);
  EXPECT_EQ(lib.sqlite3_column_int(nullptr, 0), 1);
  EXPECT_EQ(lib.sqlite3_column_text(nullptr, 0), nullptr);
  EXPECT_EQ(lib.sqlite3_column_type(nullptr, 0), -1);
  EXPECT_EQ(lib.sqlite3_errcode(nullptr), 1);
  EXPECT_STREQ(lib.sqlite3_errmsg(nullptr), "sqlite3_errmsg function not found");
  EXPECT_STREQ(lib.sqlite3_errstr(0), "sqlite3_errstr function not found");
  EXPECT_EQ(lib.sqlite3_extended_errcode(nullptr), 1);
  EXPECT_EQ(lib.sqlite3_finalize(nullptr), 1);
  EXPECT_EQ(lib.sqlite3_step(nullptr), 1);
  EXPECT_EQ(lib.sqlite3_reset(nullptr), 1);
  EXPECT_EQ(lib.sqlite3_config(1, 2, 3), 1);
  EXPECT_EQ(lib.sqlite3_initialize(), 1);
  EXPECT_EQ(lib.sqlite3_shutdown(), 1);
  lib.unload();
}

TEST(SQLiteBinding, UnloadablePathsLoadNothing) {
  SQLiteDynamic missing("/nonexistent/SQLite.Interop.dll");
  EXPECT_EQ(missing._hModule, nullptr);
  EXPECT_EQ(missing._missingCount, -1);
  // 260 characters do not fit with the terminator: not loaded, not shortened.
  std::string longPath = "/" + std::string(258, 'a') + "/";
  SQLiteDynamic tooLong((longPath + pdatest::sqliteLibrary()).c_str());
  EXPECT_EQ(tooLong._hModule, nullptr);
  EXPECT_STREQ(tooLong._dllPath, "");
}

TEST_F(SQLiteConnections, ConstructionOpensNothingAndASecondInstanceReusesTheConnection) {
  pdatest::sqlite(db,
                  "INSERT INTO KestInfo VALUES(NULL,'InstallLevel','7');"
                  "INSERT INTO VisaInfo VALUES(NULL,'Mode','3');");
  Node info = create(KestInfoBaseType);
  EXPECT_EQ(PdaTestAccess::KestSQLite_binding(), nullptr);
  EXPECT_EQ(info->getValueInt32("InstallLevel", 256), 7);
  Node visa = create(VisaInfoBaseType);
  EXPECT_EQ(visa->getValueInt32("Mode", 0), 3);
  EXPECT_NE(PdaTestAccess::KestSQLite_readConnection(*visa), nullptr);
  EXPECT_EQ(PdaTestAccess::KestSQLite_readConnection(*visa),
            PdaTestAccess::KestSQLite_readConnection(*info));
}

TEST(SQLiteStore, MissingLibraryIsReportedWithItsFullPathAtEveryAttempt) {
  pdatest::TempMachine machine;
  machine.installSuite(/*withLibrary=*/false);
  machine.createConfigDatabase();
  Node info = create(KestInfoBaseType);
  EXPECT_EQ(info->getValueInt32("InstallLevel", 256), 256);
  EXPECT_EQ(info->getLastSQLiteResult(), 1);
  EXPECT_STREQ(info->getLastSQliteResultString(), "sqlite3 DLL open failed.");
  const std::string load = "loadSQLiteDLL: Unable to load DLL\npath = '" + machine.baseDir() +
                           "bin" PDA_PATH_SEP "SQLite.Interop.dll'\n";
  EXPECT_EQ(countEvents("ERROR", load), 1);
  EXPECT_EQ(info->setValueString("A", "1"), 0);  // writes touch nothing either
  EXPECT_EQ(countEvents("ERROR", load), 2);
  // The remote PXI database it cannot make is reported and not made.
  Node chassis = create(ChassisBaseType);
  EXPECT_EQ(countEvents("ERROR", "KestSQLite(): Failed to create remote PXI chassis table.\n"), 1);
  EXPECT_FALSE(std::filesystem::exists(machine.pxiDir() + "RemotePXI.db"));
}

// Without "BaseDir" the library path is relative: one in the current directory is never loaded.
TEST(SQLiteStore, LibraryInTheCurrentDirectoryIsNotLoadedWithoutBaseDir) {
  pdatest::TempMachine machine;
  machine.createConfigDatabase();
  const std::filesystem::path folder = machine.path("planted");
  std::filesystem::create_directories(folder / "bin");
  std::filesystem::copy_file(pdatest::sqliteLibrary(), folder / "bin" / "SQLite.Interop.dll");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  Node info = create(KestInfoBaseType);
  const int value = info->getValueInt32("InstallLevel", 256);
  std::filesystem::current_path(before);

  EXPECT_EQ(value, 256);
  EXPECT_EQ(PdaTestAccess::KestSQLite_binding(), nullptr);
  const std::string refused =
      "loadSuiteLibrary: Refused to load a library from a relative path\npath = '." PDA_PATH_SEP
      "bin" PDA_PATH_SEP
      "SQLite.Interop.dll'\nreason = libraries are loaded only from an "
      "absolute path, never through the current directory; register the suite's absolute "
      "\"BaseDir\"\n";
  EXPECT_EQ(countEvents("ERROR", refused), 1);
}

TEST(SQLiteStore, MissingDatabaseIsReportedAndOpenedAgainAtTheNextRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  Node first = create(VisaInfoBaseType);
  EXPECT_EQ(first->getValueInt32("X", 9), 9);
  EXPECT_EQ(first->getLastSQLiteResult(), 14);
  EXPECT_STREQ(first->getLastSQliteResultString(), "unable to open database file");
  EXPECT_EQ(PdaTestAccess::KestSQLite_readConnection(*first), nullptr);
  Node second = create(KestInfoBaseType);
  second->getValueInt32("X", 0);
  EXPECT_EQ(countEvents("ERROR",
                        "getDatabaseConnection: Unable to open SQLiteDll for READONLY "
                        "error=14\n(unable to open database file)\n"),
            2);
  // Now the file exists: a new instance opens and reads it.
  pdatest::sqlite(machine.createConfigDatabase(), "INSERT INTO KestInfo VALUES(NULL,'X','5');");
  EXPECT_EQ(create(KestInfoBaseType)->getValueInt32("X", 0), 5);
}

TEST(SQLiteStore, ResultTextsWithoutErrstrAndAfterClosingEverything) {
  pdatest::TempMachine machine;
  machine.installSuite();
  Node node = create(KestInfoBaseType);
  PdaTestAccess::KestSQLite_load(*node);
  SQLiteDynamic* bound = PdaTestAccess::KestSQLite_binding();
  ASSERT_NE(bound, nullptr);
  EXPECT_STREQ(PdaTestAccess::KestSQLite_resultText(*node, 5), "database is locked");

  SQLiteDynamic lacking(pdatest::libraryWithoutSQLite());
  SQLiteDynamic::errstr_fn real = bound->sqlite3_errstr;
  bound->sqlite3_errstr = lacking.sqlite3_errstr;
  EXPECT_STREQ(PdaTestAccess::KestSQLite_resultText(*node, 5), "sqlite3_errstr function not found");
  EXPECT_STREQ(PdaTestAccess::KestSQLite_resultText(*node, 100), "SQLITE_ROW");
  EXPECT_STREQ(PdaTestAccess::KestSQLite_resultText(*node, 101), "SQLITE_DONE");
  bound->sqlite3_errstr = real;
  lacking.unload();

  node->getValueInt32("X", 0);  // no database: result 14
  const char* text = node->getLastSQliteResultString();
  KestSQLite::closeAllDatabaseConnections();
  KestSQLite::closeAllDatabaseConnections();  // the second call does nothing
  EXPECT_EQ(PdaTestAccess::KestSQLite_binding(), nullptr);
  EXPECT_STREQ(text, "unable to open database file");  // a copy, not the library's text
  EXPECT_EQ(node->getLastSQliteResultString(), text);
}

TEST_F(SQLiteConnections, StatementsSurviveNeitherCopiesNorClosingTheConnections) {
  Node source = create(KestInfoBaseType);
  ASSERT_EQ(source->setValueString("A", "1"), 1);
  ASSERT_NE(PdaTestAccess::KestSQLite_cachedBegin(*source), nullptr);
  Node copy(new KestSQLite(*source));
  EXPECT_EQ(PdaTestAccess::KestSQLite_cachedBegin(*copy), nullptr);
  source.reset();
  EXPECT_EQ(copy->setValueString("B", "2"), 1);

  // Assigned a node of another file, it writes that file and leaves none open in its old one.
  Node buses = create(PciBusesBaseType);
  *copy = *buses;
  EXPECT_EQ(copy->setValueString("Bus2", "5"), 1);
  pdatest::sqlite(db, "BEGIN EXCLUSIVE; INSERT INTO KestInfo VALUES(NULL,'C','3'); COMMIT;");

  // After closing everything the old connections' statements are dropped.
  KestSQLite::closeAllDatabaseConnections();
  EXPECT_EQ(copy->setValueString("Bus2", "6"), 1);
  EXPECT_EQ(pdatest::sqlite(buses->getDbPath(), "SELECT VALUE FROM PciBuses WHERE NAME='Bus2';"),
            "6\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT NAME || VALUE FROM KestInfo ORDER BY NAME;"),
            "A1\nB2\nC3\n");
}

namespace {

using std::chrono::milliseconds;

// Tries the lock on another thread; gives back whether it was had (and
// releases it again if so).
int tryOnAnotherThread(pda::TimedRecursiveMutex& lock, milliseconds patience) {
  std::atomic<int> had{-1};
  std::thread other([&] {
    had = lock.tryLock(patience) ? 1 : 0;
    if (had == 1) lock.unlock();
  });
  other.join();
  return had;
}

TEST(WritersLock, AWaiterGivesUpWhileTheHolderKeepsItAndHasItOnceItIsFree) {
  pda::TimedRecursiveMutex lock;
  ASSERT_TRUE(lock.tryLock(milliseconds(10)));
  ASSERT_TRUE(lock.tryLock(milliseconds(10)));  // the holder again, at once
  EXPECT_EQ(tryOnAnotherThread(lock, milliseconds(50)), 0);
  lock.unlock();
  EXPECT_EQ(tryOnAnotherThread(lock, milliseconds(50)), 0) << "still held once";
  lock.unlock();
  EXPECT_EQ(tryOnAnotherThread(lock, milliseconds(50)), 1);
  // The waiters that gave up left the line: the lock is free for this thread.
  ASSERT_TRUE(lock.tryLock(milliseconds(10)));
  lock.unlock();
}

TEST(Connections, AStatementOfAnEarlierOpeningOfTheConnectionsIsNotAdopted) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  namespace sql = pda::sqlite;
  ASSERT_TRUE(sql::loadBinding((machine.baseDir() + "bin/SQLite.Interop.dll").c_str()));
  sql::File& file = sql::fileAt(db);
  ASSERT_EQ(sql::openConnection(file, true), 0);
  const unsigned opened = sql::generationOf(file);
  sql::closeAll();
  EXPECT_GT(sql::generationOf(file), opened);
  EXPECT_EQ(sql::connection(file, true), nullptr);
  EXPECT_FALSE(sql::adoptStatement(file, opened, nullptr));
}

TEST(Connections, UnloadingTheLibraryClosesEveryConnectionAndReleasesSQLite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  Node node = create(KestInfoBaseType);
  EXPECT_EQ(node->getValueInt32("Missing", 7), 7);  // read: SQLite loaded, a connection open
  pda::sqlite::File& file = pda::sqlite::fileAt(db);
  ASSERT_NE(pda::sqlite::connection(file, false), nullptr);
  pda::platform::runUnloadHooks();
  EXPECT_EQ(pda::sqlite::connection(file, false), nullptr);
  EXPECT_EQ(pda::sqlite::binding(), nullptr);
}

}  // namespace

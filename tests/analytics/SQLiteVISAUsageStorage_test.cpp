// Usage rows in the analytics database, checked with the sqlite3 client in a
// process of its own: this process only ever loads SQLite through the object
// under test.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include "TestAccess.h"
#include "pda/VISAUsageStorage.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

const char* const kTables =
    "CREATE TABLE VISACAccess(ProcessName TEXT, AccessTime TEXT);"
    "CREATE TABLE VISACOMAccess(ProcessName TEXT, AccessTime TEXT);"
    "CREATE TABLE VISANETAccess(ProcessName TEXT, AccessTime TEXT);";
const char* const kSessionTable =
    "CREATE TABLE SorrelSessionAccess(SessionType TEXT, UsageCount INTEGER, "
    "StatisticsTime TEXT);";

const std::string kOpenFailed = "SQLiteVISAUsageStorage: Failed to open SQLite connection.";
const std::string kCreateFailed = "SQLiteVISAUsageStorage: Failed to create SQLite.";
const std::string kVisaNull = "SQLiteVISAUsageStorage: Parameter is null when AddVisaUsageRecord.";
const std::string kSessionNull =
    "SQLiteVISAUsageStorage: Parameter is null when AddSorrelSessionUsageRecord.";
const std::string kSessionFailed =
    "SQLiteVISAUsageStorage: Failed to add sorrel session usage to SorrelSessionAccess.";

std::string visaFailed(const std::string& table) {
  return "SQLiteVISAUsageStorage: Failed to add VISA usage to " + table + ".";
}

class UsageStorage : public ::testing::Test {
 protected:
  pdatest::TempMachine machine;  // first: every test gets its own machine

  std::string defaultDb() const { return machine.dataDir() + "DataAnalytics.db"; }

  // The analytics database as the suite's installer makes it.
  std::string createDb(const std::string& path) const {
    pdatest::sqlite(path, std::string(kTables) + kSessionTable);
    return path;
  }

  static std::string rows(const std::string& db, const std::string& table) {
    return pdatest::sqlite(db, "SELECT * FROM " + table + " ORDER BY rowid;");
  }

  // The messages of this machine's event log; every one must come from the
  // "SQLite" source as information.
  static std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (const pdatest::Event& e : pdatest::readEvents()) {
      EXPECT_EQ("SQLite", e.source) << e.message;
      EXPECT_EQ("INFORMATION", e.type) << e.message;
      out.push_back(e.message);
    }
    return out;
  }
};

using Strings = std::vector<std::string>;

// ---------------------------------------------------------------- rows

TEST_F(UsageStorage, VisaRowsTakeTheTimeFirstAndTheProcessSecond) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  EXPECT_TRUE(storage.AddVISACUsageRecord("2024-01-02 03:04:05", "scope.exe"));
  EXPECT_TRUE(storage.AddVISACOMUsageRecord("2024-02-03 04:05:06", "com-client.exe"));
  EXPECT_TRUE(storage.AddVISANETUsageRecord("2024-03-04 05:06:07", "net-app.exe"));

  EXPECT_EQ("scope.exe|2024-01-02 03:04:05\n",
            pdatest::sqlite(db, "SELECT ProcessName, AccessTime FROM VISACAccess;"));
  EXPECT_EQ("com-client.exe|2024-02-03 04:05:06\n",
            pdatest::sqlite(db, "SELECT ProcessName, AccessTime FROM VISACOMAccess;"));
  EXPECT_EQ("net-app.exe|2024-03-04 05:06:07\n",
            pdatest::sqlite(db, "SELECT ProcessName, AccessTime FROM VISANETAccess;"));
  EXPECT_EQ("", rows(db, "SorrelSessionAccess"));
  EXPECT_TRUE(messages().empty());
}

TEST_F(UsageStorage, GivenPathIsUsedExactlyAndTheDefaultFileStaysUntouched) {
  machine.installSuite();
  std::string mine = createDb(machine.path("elsewhere.db"));
  std::string standard = createDb(defaultDb());
  SQLiteVISAUsageStorage storage(mine.c_str());
  EXPECT_TRUE(storage.AddVISACUsageRecord("t1", "p1"));
  EXPECT_EQ("p1|t1\n", rows(mine, "VISACAccess"));
  EXPECT_EQ("", rows(standard, "VISACAccess"));
  EXPECT_EQ(mine, PdaTestAccess::SQLiteVISAUsageStorage_databasePath(storage));
}

TEST_F(UsageStorage, SessionCountsAreStoredAsIntegersIncludingNegativeAndExtremes) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("LAN", -1, "2024-05-06"));
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("USB", 0, "2024-05-07"));
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("GPIB", INT_MAX, "2024-05-08"));
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("PXI", INT_MIN, "2024-05-09"));
  EXPECT_EQ(
      "LAN|-1|integer|2024-05-06\n"
      "USB|0|integer|2024-05-07\n"
      "GPIB|2147483647|integer|2024-05-08\n"
      "PXI|-2147483648|integer|2024-05-09\n",
      pdatest::sqlite(db,
                      "SELECT SessionType, UsageCount, typeof(UsageCount), StatisticsTime "
                      "FROM SorrelSessionAccess ORDER BY rowid;"));
}

TEST_F(UsageStorage, QuotesAreStoredAsPassedAndCannotChangeTheStatement) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  const std::string quoted = "O'Brien's \"meter\".exe";
  const std::string hostile = "x', 'y'); DROP TABLE VISACAccess; --";
  EXPECT_TRUE(storage.AddVISACUsageRecord("noon 'local'", quoted.c_str()));
  EXPECT_TRUE(storage.AddVISACUsageRecord("'", hostile.c_str()));
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("it's", 3, "''"));

  EXPECT_EQ(quoted + "|noon 'local'\n" + hostile + "|'\n", rows(db, "VISACAccess"));
  EXPECT_EQ("it's|3|''\n", rows(db, "SorrelSessionAccess"));
  EXPECT_EQ("1\n", pdatest::sqlite(db,
                                   "SELECT count(*) FROM sqlite_master WHERE "
                                   "name = 'VISACAccess';"));
}

// ---------------------------------------------------------------- failures

TEST_F(UsageStorage, MissingDatabaseFailsEveryAddAndIsNeverCreated) {
  machine.installSuite();
  const std::string missing = machine.dataDir() + "DataAnalytics.db";
  {
    SQLiteVISAUsageStorage storage;
    EXPECT_FALSE(storage.AddVISACUsageRecord("t", "p"));
    EXPECT_FALSE(storage.AddVISACOMUsageRecord("t", "p"));
    EXPECT_FALSE(storage.AddVISANETUsageRecord("t", "p"));
    EXPECT_FALSE(storage.AddSorrelSessionUsageRecord("LAN", 1, "t"));
  }
  SQLiteVISAUsageStorage inMissingDir(machine.path("no/such/dir/DataAnalytics.db").c_str());
  EXPECT_FALSE(inMissingDir.AddVISACUsageRecord("t", "p"));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(fs::exists(machine.path("no")));
  EXPECT_EQ((Strings{kOpenFailed, kVisaNull, visaFailed("VISACAccess"),    //
                     kOpenFailed, kVisaNull, visaFailed("VISACOMAccess"),  //
                     kOpenFailed, kVisaNull, visaFailed("VISANETAccess"),  //
                     kOpenFailed, kSessionNull, kSessionFailed,            //
                     kOpenFailed, kVisaNull, visaFailed("VISACAccess")}),
            messages());
}

TEST_F(UsageStorage, DatabaseThatAppearsLaterIsOpenedByTheNextAdd) {
  machine.installSuite();
  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord("early", "p"));
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(storage));
  std::string db = createDb(defaultDb());
  EXPECT_TRUE(storage.AddVISACUsageRecord("late", "p"));
  EXPECT_EQ("p|late\n", rows(db, "VISACAccess"));
}

TEST_F(UsageStorage, NullTextsAreRefusedWithTheirMessagesAndEmptyTextsStored) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord(nullptr, "p"));
  EXPECT_FALSE(storage.AddVISACOMUsageRecord(nullptr, "p"));
  EXPECT_FALSE(storage.AddVISANETUsageRecord(nullptr, "p"));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord("LAN", 1, nullptr));
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", nullptr));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord(nullptr, 1, "t"));
  EXPECT_EQ((Strings{kVisaNull, visaFailed("VISACAccess"), kVisaNull, visaFailed("VISACOMAccess"),
                     kVisaNull, visaFailed("VISANETAccess"), kSessionNull, kSessionFailed,
                     kVisaNull, visaFailed("VISACAccess"), kSessionNull, kSessionFailed}),
            messages());
  EXPECT_EQ("0|0|0|0\n", pdatest::sqlite(db,
                                         "SELECT (SELECT count(*) FROM VISACAccess), "
                                         "(SELECT count(*) FROM VISACOMAccess), "
                                         "(SELECT count(*) FROM VISANETAccess), "
                                         "(SELECT count(*) FROM SorrelSessionAccess);"));
  // Empty texts are values like any other.
  EXPECT_TRUE(storage.AddVISACUsageRecord("", ""));
  EXPECT_EQ("|\n", rows(db, "VISACAccess"));
}

TEST_F(UsageStorage, MissingLibraryIsReportedAndRetriedAtTheNextAdd) {
  machine.installSuite(/*withLibrary=*/false);
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", "p"));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord("LAN", 1, "t"));
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasBinding(storage));
  EXPECT_EQ((Strings{kCreateFailed, kVisaNull, visaFailed("VISACAccess"), kCreateFailed,
                     kSessionNull, kSessionFailed}),
            messages());

  // A file that is no library counts as missing.
  const std::string library = (fs::path(machine.baseDir()) / "bin" / "SQLite.Interop.dll").string();
  std::ofstream(library, std::ios::binary) << "not a shared object";
  EXPECT_FALSE(storage.AddVISANETUsageRecord("t", "p"));
  EXPECT_EQ(kCreateFailed, messages().at(6));

  fs::remove(library);
  fs::copy_file(pdatest::sqliteLibrary(), library);
  EXPECT_TRUE(storage.AddVISACUsageRecord("t2", "p2"));
  EXPECT_EQ("p2|t2\n", rows(db, "VISACAccess"));
  EXPECT_EQ(9u, messages().size());
}

// A path must fit 260 bytes with its terminator. One character more and the
// object must not open the file named by the first 259 characters.
TEST_F(UsageStorage, PathOf259CharactersWorksAndLongerPathsAreNeverShortened) {
  machine.installSuite();
  std::string dir = machine.path(std::string(100, 'd'));
  fs::create_directories(dir + "/" + std::string(100, 'e'));
  dir += "/" + std::string(100, 'e') + "/";
  ASSERT_LT(dir.size(), 250u);
  const std::string fits = dir + std::string(259 - dir.size() - 3, 'f') + ".db";
  ASSERT_EQ(259u, fits.size());
  createDb(fits);

  SQLiteVISAUsageStorage ok(fits.c_str());
  EXPECT_TRUE(ok.AddVISACUsageRecord("t", "fits"));

  const std::string tooLong = fits + "x";
  SQLiteVISAUsageStorage refused(tooLong.c_str());
  EXPECT_STREQ("", PdaTestAccess::SQLiteVISAUsageStorage_databasePath(refused));
  EXPECT_FALSE(refused.AddVISACUsageRecord("t", "too long"));
  EXPECT_FALSE(refused.AddSorrelSessionUsageRecord("LAN", 1, "t"));
  EXPECT_FALSE(refused.AddVISACUsageRecord("t", "again"));

  const std::string far = fits + std::string(700, 'y');
  SQLiteVISAUsageStorage refusedToo(far.c_str());
  EXPECT_FALSE(refusedToo.AddVISACUsageRecord("t", "far"));

  // "" would give SQLite's private temporary database: refused alike.
  SQLiteVISAUsageStorage empty("");
  EXPECT_FALSE(empty.AddVISACUsageRecord("t", "empty"));

  EXPECT_EQ("fits|t\n", rows(fits, "VISACAccess"));
  EXPECT_FALSE(fs::exists(tooLong));
  EXPECT_EQ((Strings{kOpenFailed, kVisaNull, visaFailed("VISACAccess"), kOpenFailed, kSessionNull,
                     kSessionFailed, kOpenFailed, kVisaNull, visaFailed("VISACAccess"), kOpenFailed,
                     kVisaNull, visaFailed("VISACAccess"),  //
                     kOpenFailed, kVisaNull, visaFailed("VISACAccess")}),
            messages());
}

// The statement buffers hold 1024 bytes for a VISA row and 256 for a session
// row, terminator included; quotes count twice once doubled.
TEST_F(UsageStorage, VisaStatementUpToItsBufferIsStoredWholeAndLongerIsRefused) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  const std::size_t fixed =
      std::strlen("insert into VISACAccess (ProcessName, AccessTime) values('', '')");
  const std::size_t room = 1023 - fixed - 1;  // one character of time
  const std::string longest(room, 'n');
  EXPECT_TRUE(storage.AddVISACUsageRecord("t", longest.c_str()));
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", (longest + "n").c_str()));
  // Half the room in quotes fills it exactly; one quote more does not fit.
  const std::string quotes(room / 2, '\'');
  ASSERT_EQ(0u, room % 2) << "adjust the time so that the room is even";
  EXPECT_TRUE(storage.AddVISACUsageRecord("u", quotes.c_str()));
  EXPECT_FALSE(storage.AddVISACUsageRecord("u", (quotes + "'").c_str()));

  EXPECT_EQ(std::to_string(room) + "|t\n" + std::to_string(room / 2) + "|u\n",
            pdatest::sqlite(db,
                            "SELECT length(ProcessName), AccessTime FROM VISACAccess "
                            "ORDER BY rowid;"));
  EXPECT_EQ("1\n", pdatest::sqlite(db, "SELECT count(*) FROM VISACAccess WHERE ProcessName = " +
                                           pdatest::sqlQuote(quotes) + ";"));
  EXPECT_EQ((Strings{visaFailed("VISACAccess"), visaFailed("VISACAccess")}), messages());
}

TEST_F(UsageStorage, SessionStatementUpToItsBufferIsStoredWholeAndLongerIsRefused) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  SQLiteVISAUsageStorage storage;
  const std::size_t fixed = std::strlen(
      "insert into SorrelSessionAccess (SessionType, UsageCount, StatisticsTime) "
      "values('', -1, '')");
  const std::size_t room = 255 - fixed - 1;
  const std::string longest(room, 's');
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord(longest.c_str(), -1, "t"));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord((longest + "s").c_str(), -1, "t"));
  // A wider count takes room from the texts.
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord(longest.c_str(), -10, "t"));
  EXPECT_EQ(std::to_string(room) + "|-1\n",
            pdatest::sqlite(db,
                            "SELECT length(SessionType), UsageCount FROM "
                            "SorrelSessionAccess;"));
  EXPECT_EQ((Strings{kSessionFailed, kSessionFailed}), messages());
}

// ---------------------------------------------------------------- base

TEST_F(UsageStorage, BaseAndParameterlessOperationsReturnFalseAndTouchNothing) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  const auto before = fs::last_write_time(db);

  VISAUsageStorage base;
  EXPECT_FALSE(base.AddVISACUsageRecord());
  EXPECT_FALSE(base.AddVISACOMUsageRecord());
  EXPECT_FALSE(base.AddVISANETUsageRecord());
  EXPECT_FALSE(base.AddSorrelSessionUsageRecord("LAN", 1, "t"));
  VISAUsageStorage copy(base);
  EXPECT_FALSE(copy.AddSorrelSessionUsageRecord("LAN", 1, "t"));

  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord());
  EXPECT_FALSE(storage.AddVISACOMUsageRecord());
  EXPECT_FALSE(storage.AddVISANETUsageRecord());
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasBinding(storage));

  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(before, fs::last_write_time(db));
  EXPECT_EQ("", rows(db, "VISACAccess"));

  // Through the base, the override answers and the object is destroyed whole.
  std::unique_ptr<VISAUsageStorage> held(new SQLiteVISAUsageStorage());
  EXPECT_TRUE(held->AddSorrelSessionUsageRecord("LAN", 7, "t"));
  EXPECT_FALSE(held->AddVISACUsageRecord());
  held.reset();
  EXPECT_EQ("LAN|7|t\n", rows(db, "SorrelSessionAccess"));
}

// ---------------------------------------------------------------- lifetime

// /proc and fork are POSIX's: the tests that use them are built only there.
#if !defined(_WIN32)
// Whether this process holds an open descriptor on path.
bool processHasOpen(const std::string& path) {
  const fs::path wanted = fs::canonical(path);
  for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    fs::path target = fs::read_symlink(fd.path(), ec);
    if (!ec && target == wanted) return true;
  }
  return false;
}

// Whether the SQLite library is mapped into this process.
bool sqliteMapped() {
  const std::string library = fs::canonical(PDA_SQLITE_LIBRARY).string();
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(library) != std::string::npos) return true;
  return false;
}

TEST_F(UsageStorage, DestructionClosesTheConnectionAndReleasesTheLibrary) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  ASSERT_FALSE(sqliteMapped());
  {
    SQLiteVISAUsageStorage storage;
    EXPECT_FALSE(processHasOpen(db)) << "nothing is opened before the first add";
    EXPECT_TRUE(storage.AddVISACUsageRecord("t", "p"));
    EXPECT_TRUE(processHasOpen(db));
    EXPECT_TRUE(sqliteMapped());
  }
  EXPECT_FALSE(processHasOpen(db));
  EXPECT_FALSE(sqliteMapped());
  EXPECT_TRUE(messages().empty());
}

#endif  // !_WIN32

TEST_F(UsageStorage, CopyGetsItsOwnBindingAndConnection) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  std::unique_ptr<SQLiteVISAUsageStorage> source(new SQLiteVISAUsageStorage());
  ASSERT_TRUE(source->AddVISACUsageRecord("1", "source"));

  SQLiteVISAUsageStorage copy(*source);
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasBinding(copy));
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(copy));
  EXPECT_STREQ(PdaTestAccess::SQLiteVISAUsageStorage_databasePath(*source),
               PdaTestAccess::SQLiteVISAUsageStorage_databasePath(copy));

  source.reset();  // closes the source's connection only
  EXPECT_TRUE(copy.AddVISACUsageRecord("2", "copy"));
  EXPECT_EQ("source|1\ncopy|2\n", rows(db, "VISACAccess"));
  EXPECT_TRUE(messages().empty());
}

#if !defined(_WIN32)
TEST_F(UsageStorage, AssignmentClosesTheTargetAndTakesTheOtherPath) {
  machine.installSuite();
  std::string first = createDb(machine.path("first.db"));
  std::string second = createDb(machine.path("second.db"));
  SQLiteVISAUsageStorage a(first.c_str());
  SQLiteVISAUsageStorage b(second.c_str());
  ASSERT_TRUE(a.AddVISACUsageRecord("1", "a"));
  ASSERT_TRUE(b.AddVISACUsageRecord("1", "b"));
  ASSERT_TRUE(processHasOpen(first));

  a = b;
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(a));
  EXPECT_FALSE(processHasOpen(first));
  EXPECT_TRUE(a.AddVISACUsageRecord("2", "a"));
  EXPECT_TRUE(b.AddVISACUsageRecord("2", "b"));

  const SQLiteVISAUsageStorage& self = a;
  a = self;
  EXPECT_TRUE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(a));
  EXPECT_TRUE(a.AddVISACUsageRecord("3", "a"));

  EXPECT_EQ("a|1\n", rows(first, "VISACAccess"));
  EXPECT_EQ("b|1\na|2\nb|2\na|3\n", rows(second, "VISACAccess"));
}

#endif  // !_WIN32

// ---------------------------------------------------------------- concurrency

#if !defined(_WIN32)
// Several processes add rows to one database at once. Without a busy wait a
// row that meets another writer's lock is lost: a prepare that meets it
// answers false with its report, a step that meets it still answers true. So
// no more rows are stored than adds answered true, every false answer has
// its report, no row is torn or mixed with another, and the file stays sound.
TEST_F(UsageStorage, ProcessesAddingAtOnceLeaveASoundDatabase) {
  machine.installSuite();
  std::string db = createDb(defaultDb());
  const int kChildren = 3;
  const int kRows = 30;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int answeredTrue = 0;
      {
        SQLiteVISAUsageStorage storage;
        const std::string name = "child-" + std::to_string(c);
        for (int r = 0; r < kRows; ++r) {
          const std::string time = name + "/" + std::to_string(r);
          if (storage.AddVISACOMUsageRecord(time.c_str(), name.c_str())) ++answeredTrue;
        }
      }
      _exit(answeredTrue);  // at most 30: fits an exit status
    }
    children.push_back(pid);
  }
  int answeredTrue = 0;
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "a writer crashed";
    answeredTrue += WEXITSTATUS(status);
  }
  EXPECT_EQ("ok\n", pdatest::sqlite(db, "PRAGMA integrity_check;"));
  EXPECT_EQ("0\n", pdatest::sqlite(db,
                                   "SELECT count(*) FROM VISACOMAccess WHERE "
                                   "substr(AccessTime, 1, length(ProcessName) + 1) "
                                   "<> ProcessName || '/';"));
  const int stored = std::atoi(pdatest::sqlite(db, "SELECT count(*) FROM VISACOMAccess;").c_str());
  EXPECT_LE(stored, answeredTrue);
  const Strings reports = messages();
  EXPECT_EQ(static_cast<std::size_t>(kChildren * kRows - answeredTrue), reports.size());
  for (const std::string& m : reports) EXPECT_EQ(visaFailed("VISACOMAccess"), m);
}
#endif  // !_WIN32

}  // namespace

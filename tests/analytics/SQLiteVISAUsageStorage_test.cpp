// Usage rows in the analytics database, checked with the sqlite3 client in a
// process of its own: this process only ever loads SQLite through the object
// under test. Bad databases (none, a missing column, locked by another
// writer) give the documented answer and report;
// what the database refuses is lost, as the usage statistics are meant to be.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include "SuiteSchema.h"
#include "TestAccess.h"
#include "pda/VISAUsageStorage.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

// The installed suite's usage tables.
const std::string kSchema = [] {
  std::string sql;
  for (const char* table : pdasuite::kAnalyticsTables) sql += std::string(table) + ";";
  return sql;
}();

using Strings = std::vector<std::string>;
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
std::string rowLost(const std::string& name, const std::string& error) {
  return "SQLiteVISAUsageStorage: Usage row lost: 'insert into VISACAccess (ProcessName, "
         "AccessTime) values('" +
         name + "', 't')'\n" + error;
}

std::string rows(const std::string& db, const std::string& table) {
  return pdatest::sqlite(db, "SELECT * FROM " + table + " ORDER BY rowid;");
}

// The messages of this machine's event log; every one must come from the
// "SQLite" source as information.
Strings messages() {
  Strings out;
  for (const pdatest::Event& e : pdatest::readEvents()) {
    EXPECT_EQ("SQLite", e.source) << e.message;
    EXPECT_EQ("INFORMATION", e.type) << e.message;
    out.push_back(e.message);
  }
  return out;
}

class UsageStorage : public ::testing::Test {
 protected:
  pdatest::TempMachine machine;  // first: every test gets its own machine

  std::string defaultDb() const { return machine.dataDir() + "DataAnalytics.db"; }
  // Installs the suite and makes the analytics database at path (the default
  // one when empty) with the installer's tables.
  std::string install(const std::string& path = "", bool withLibrary = true) const {
    machine.installSuite(withLibrary);
    return createDb(path.empty() ? defaultDb() : path);
  }
  static std::string createDb(const std::string& path) {
    pdatest::sqlite(path, kSchema);
    return path;
  }
};

// ---------------------------------------------------------------- rows

// Rows take the time first and the process second, counts as integers,
// quotes as passed (they cannot end the literal); each table gets its own
// rows. A null text is refused with its reports.
TEST_F(UsageStorage, RowsAreStoredAsPassedAndNullTextsRefused) {
  const std::string db = install();
  SQLiteVISAUsageStorage storage;
  const std::string hostile = "x', 'y'); DROP TABLE VISACAccess; --";
  EXPECT_TRUE(storage.AddVISACUsageRecord("noon 'local'", hostile.c_str()));
  EXPECT_TRUE(storage.AddVISACOMUsageRecord("2024-02-03", "com.exe"));
  EXPECT_TRUE(storage.AddVISANETUsageRecord("2024-03-04", "net.exe"));
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("it's", INT_MIN, "2024-05-08"));
  EXPECT_TRUE(messages().empty());
  EXPECT_FALSE(storage.AddVISACUsageRecord(nullptr, "p"));
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", nullptr));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord("LAN", 1, nullptr));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord(nullptr, 1, "t"));
  EXPECT_EQ((Strings{kVisaNull, visaFailed("VISACAccess"), kVisaNull, visaFailed("VISACAccess"),
                     kSessionNull, kSessionFailed, kSessionNull, kSessionFailed}),
            messages());
  EXPECT_EQ(hostile + "|noon 'local'\n", rows(db, "VISACAccess"));
  EXPECT_EQ("com.exe|2024-02-03\n", rows(db, "VISACOMAccess"));
  EXPECT_EQ("net.exe|2024-03-04\n", rows(db, "VISANETAccess"));
  EXPECT_EQ("it's|-2147483648|integer|2024-05-08\n",
            pdatest::sqlite(db,
                            "SELECT SessionType, UsageCount, typeof(UsageCount), "
                            "StatisticsTime FROM SorrelSessionAccess;"));
}

// ---------------------------------------------------------------- failures

// A missing database fails every add and is never created; one that appears
// later is opened by the next add of the same object.
TEST_F(UsageStorage, MissingDatabaseFailsEveryAddUntilItAppears) {
  machine.installSuite();
  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", "p"));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord("LAN", 1, "t"));
  EXPECT_FALSE(fs::exists(defaultDb()));
  EXPECT_EQ((Strings{kOpenFailed, kVisaNull, visaFailed("VISACAccess"), kOpenFailed, kSessionNull,
                     kSessionFailed}),
            messages());
  const std::string db = createDb(defaultDb());
  EXPECT_TRUE(storage.AddVISACUsageRecord("late", "p"));
  EXPECT_EQ("p|late\n", rows(db, "VISACAccess"));
}

TEST_F(UsageStorage, MissingLibraryIsReportedAndRetriedAtTheNextAdd) {
  const std::string db = install("", /*withLibrary=*/false);
  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", "p"));
  EXPECT_EQ((Strings{kCreateFailed, kVisaNull, visaFailed("VISACAccess")}), messages());
  fs::copy_file(pdatest::sqliteLibrary(),
                (fs::path(machine.baseDir()) / "bin" / "SQLite.Interop.dll").string());
  EXPECT_TRUE(storage.AddVISACUsageRecord("t2", "p2"));
  EXPECT_EQ("p2|t2\n", rows(db, "VISACAccess"));
  EXPECT_EQ(3u, messages().size());
}

// A path must fit 260 bytes with its terminator. One character more and the
// object must not open the file named by the first 259 characters; "" (which
// would give SQLite's private temporary database) is refused alike.
TEST_F(UsageStorage, PathOf259CharactersWorksAndLongerPathsAreNeverShortened) {
  machine.installSuite();
  std::string dir = machine.path(std::string(100, 'd') + "/" + std::string(100, 'e'));
  fs::create_directories(dir);
  dir += "/";
  ASSERT_LT(dir.size(), 250u);
  const std::string fits = createDb(dir + std::string(259 - dir.size() - 3, 'f') + ".db");
  ASSERT_EQ(259u, fits.size());
  EXPECT_TRUE(SQLiteVISAUsageStorage(fits.c_str()).AddVISACUsageRecord("t", "fits"));
  const std::string tooLong = fits + "x";
  EXPECT_FALSE(SQLiteVISAUsageStorage(tooLong.c_str()).AddVISACUsageRecord("t", "too long"));
  EXPECT_FALSE(SQLiteVISAUsageStorage("").AddVISACUsageRecord("t", "empty"));
  EXPECT_EQ("fits|t\n", rows(fits, "VISACAccess"));
  EXPECT_FALSE(fs::exists(tooLong));
  EXPECT_EQ((Strings{kOpenFailed, kVisaNull, visaFailed("VISACAccess"), kOpenFailed, kVisaNull,
                     visaFailed("VISACAccess")}),
            messages());
}

// The statement buffers hold 1024 bytes for a VISA row and 256 for a session
// row, terminator included.
TEST_F(UsageStorage, StatementUpToItsBufferIsStoredWholeAndLongerIsRefused) {
  const std::string db = install();
  SQLiteVISAUsageStorage storage;
  const std::size_t room =
      1023 - std::strlen("insert into VISACAccess (ProcessName, AccessTime) values('', '')") - 1;
  const std::string longest(room, 'n');
  EXPECT_TRUE(storage.AddVISACUsageRecord("t", longest.c_str()));
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", (longest + "n").c_str()));
  EXPECT_EQ(std::to_string(room) + "|t\n",
            pdatest::sqlite(db, "SELECT length(ProcessName), AccessTime FROM VISACAccess;"));
  const std::size_t sessionRoom = 255 -
                                  std::strlen(
                                      "insert into SorrelSessionAccess (SessionType, "
                                      "UsageCount, StatisticsTime) values('', -1, '')") -
                                  1;
  const std::string session(sessionRoom, 's');
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord(session.c_str(), -1, "t"));
  EXPECT_FALSE(storage.AddSorrelSessionUsageRecord((session + "s").c_str(), -1, "t"));
  EXPECT_EQ((Strings{visaFailed("VISACAccess"), kSessionFailed}), messages());
}

// A table lacking a column fails that table's adds with their report; the
// other tables still take their rows.
TEST_F(UsageStorage, TableThatCannotTakeTheRowFailsOnlyItsAdds) {
  machine.installSuite();
  const std::string partial = machine.path("partial.db");
  pdatest::sqlite(partial,
                  "CREATE TABLE VISACAccess(ProcessName TEXT);"
                  "CREATE TABLE SorrelSessionAccess(SessionType TEXT, UsageCount INTEGER, "
                  "StatisticsTime TEXT);");
  SQLiteVISAUsageStorage storage(partial.c_str());
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", "p"));
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("VXI-11", 3, "t"));
  EXPECT_EQ(rows(partial, "SorrelSessionAccess"), "VXI-11|3|t\n");
  EXPECT_EQ(messages(), (Strings{visaFailed("VISACAccess")}));
}

// Another writer holds the database: an add waits for it up to about a
// second (its step is retried), and a row the database still did not take
// is lost and reported; the add answers true either way. The writer is the
// sqlite3 client, in a process of its own (under Wine, the Linux host's
// client).
TEST_F(UsageStorage, DatabaseLockedByAnotherWriter) {
  const std::string db = install();
  SQLiteVISAUsageStorage storage;
  ASSERT_TRUE(storage.AddVISACUsageRecord("t", "before"));
  const std::string marker = db + ".locked";
  const std::string script = db + ".lock.sql";
  // Adds one row while the other writer holds its lock for seconds.
  auto addWhileLocked = [&](const char* name, const char* seconds) {
    std::remove(marker.c_str());
#if defined(_WIN32)
    // ROLLBACK: the writer changed nothing, and under Wine the host client's
    // COMMIT of an empty transaction now and then meets "database is locked".
    std::ofstream(script) << "BEGIN IMMEDIATE;\n.shell touch '" << pdatest::hostPath(marker)
                          << "'\n.shell sleep " << seconds << "\nROLLBACK;\n";
    const std::string holder = pdatest::startOnHost(
        "sqlite3 -batch \"$1\" < \"$2\"", {pdatest::hostPath(db), pdatest::hostPath(script)});
    ASSERT_FALSE(holder.empty()) << "the other writer did not start";
#else
    std::ofstream(script) << "BEGIN IMMEDIATE;\n.shell touch '" << marker << "'\n.shell sleep "
                          << seconds << "\nCOMMIT;\n";
    const pid_t holder = ::fork();
    if (holder == 0) {
      ::execlp("sh", "sh", "-c", ("sqlite3 -batch '" + db + "' < '" + script + "'").c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
#endif
    for (int i = 0; i < 2000 && !std::ifstream(marker).good(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(std::ifstream(marker).good()) << "the other writer never took its lock";
    EXPECT_TRUE(storage.AddVISACUsageRecord("t", name));
#if defined(_WIN32)
    EXPECT_EQ(pdatest::waitOnHost(holder, 60), 0);
#else
    int status = 0;
    ::waitpid(holder, &status, 0);
#endif
  };
  addWhileLocked("waited", "0.3");
  EXPECT_TRUE(messages().empty());
  addWhileLocked("lost", "2.5");
  EXPECT_EQ(messages(), (Strings{rowLost("lost", "error=5\n(database is locked)")}));
  EXPECT_TRUE(storage.AddVISACUsageRecord("t", "after"));
  EXPECT_EQ(rows(db, "VISACAccess"), "before|t\nwaited|t\nafter|t\n");
}

// ---------------------------------------------------------------- base

TEST_F(UsageStorage, BaseAndParameterlessOperationsTouchNothingAndCopiesConnectAnew) {
  const std::string db = install();
  VISAUsageStorage base;  // also what the parameterless adds of the SQLite one answer
  EXPECT_FALSE(base.AddVISACUsageRecord());
  EXPECT_FALSE(base.AddVISACOMUsageRecord());
  EXPECT_FALSE(base.AddVISANETUsageRecord());
  EXPECT_FALSE(base.AddSorrelSessionUsageRecord("LAN", 1, "t"));
  // Through the base, the override answers and the object is destroyed whole.
  std::unique_ptr<VISAUsageStorage> held(new SQLiteVISAUsageStorage());
  EXPECT_TRUE(held->AddSorrelSessionUsageRecord("LAN", 7, "t"));
  held.reset();
  EXPECT_EQ("LAN|7|t\n", rows(db, "SorrelSessionAccess"));
  // A copy gets its own binding and connection to the same path.
  std::unique_ptr<SQLiteVISAUsageStorage> source(new SQLiteVISAUsageStorage());
  ASSERT_TRUE(source->AddVISACUsageRecord("1", "source"));
  SQLiteVISAUsageStorage copied(*source);
  EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(copied));
  source.reset();  // closes the source's connection only
  EXPECT_TRUE(copied.AddVISACUsageRecord("2", "copy"));
  EXPECT_EQ("source|1\ncopy|2\n", rows(db, "VISACAccess"));
  EXPECT_TRUE(messages().empty());
}

// ---------------------------------------------------------------- lifetime

// /proc, fork and file modes are POSIX's: the tests that use them are built
// only there.
#if !defined(_WIN32)
// Whether this process holds an open descriptor on path.
bool processHasOpen(const std::string& path) {
  const fs::path wanted = fs::canonical(path);
  for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(fd.path(), ec) == wanted && !ec) return true;
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

// Destruction closes the connection and releases the library; assignment
// closes the target's connection and takes the other path.
TEST_F(UsageStorage, DestructionAndAssignmentCloseTheConnection) {
  const std::string first = install(machine.path("first.db"));
  const std::string second = createDb(machine.path("second.db"));
  ASSERT_FALSE(sqliteMapped());
  {
    SQLiteVISAUsageStorage a(first.c_str());
    EXPECT_FALSE(processHasOpen(first)) << "nothing is opened before the first add";
    EXPECT_TRUE(a.AddVISACUsageRecord("1", "a"));
    EXPECT_TRUE(processHasOpen(first));
    EXPECT_TRUE(sqliteMapped());
    SQLiteVISAUsageStorage b(second.c_str());
    ASSERT_TRUE(b.AddVISACUsageRecord("1", "b"));
    a = b;
    EXPECT_FALSE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(a));
    EXPECT_FALSE(processHasOpen(first));
    EXPECT_TRUE(a.AddVISACUsageRecord("2", "a"));
    const SQLiteVISAUsageStorage& self = a;
    a = self;
    EXPECT_TRUE(PdaTestAccess::SQLiteVISAUsageStorage_hasConnection(a));
    EXPECT_TRUE(a.AddVISACUsageRecord("3", "a"));
  }
  EXPECT_FALSE(processHasOpen(second));
  EXPECT_FALSE(sqliteMapped());
  EXPECT_EQ("a|1\n", rows(first, "VISACAccess"));
  EXPECT_EQ("b|1\na|2\na|3\n", rows(second, "VISACAccess"));
  EXPECT_TRUE(messages().empty());
}

// Several processes add rows to one database at once. Without a busy wait a
// row that meets another writer's lock is lost: a prepare that meets it
// answers false with its report, a step that meets it still answers true. So
// no more rows are stored than adds answered true, every false answer has
// its report, no row is torn or mixed with another, and the file stays sound.
TEST_F(UsageStorage, ProcessesAddingAtOnceLeaveASoundDatabase) {
  const std::string db = install();
  const int kChildren = 3, kRows = 30;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int answeredTrue = 0;
      {
        SQLiteVISAUsageStorage storage;
        const std::string name = "child-" + std::to_string(c);
        for (int r = 0; r < kRows; ++r)
          answeredTrue +=
              storage.AddVISACOMUsageRecord((name + "/" + std::to_string(r)).c_str(), name.c_str());
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
  EXPECT_LE(std::atoi(pdatest::sqlite(db, "SELECT count(*) FROM VISACOMAccess;").c_str()),
            answeredTrue);
  const Strings reports = messages();
  EXPECT_EQ(static_cast<std::size_t>(kChildren * kRows - answeredTrue), reports.size());
  for (const std::string& m : reports) EXPECT_EQ(visaFailed("VISACOMAccess"), m);
}
#endif  // !_WIN32

}  // namespace

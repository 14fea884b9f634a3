// Bad analytics databases: a file that is no database, one cut short, tables
// that lack a column, a file the process may not write, and one locked by
// another writer. Each add gives the documented answer and report, and
// nothing crashes; what the database refuses is lost without a report, as
// the usage statistics are meant to be.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/stat.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TestAccess.h"
#include "pda/VISAUsageStorage.h"
#include "support/Fixtures.h"

namespace {

const char* const kSchema =
    "CREATE TABLE VISACAccess(ProcessName TEXT, AccessTime TEXT);"
    "CREATE TABLE VISACOMAccess(ProcessName TEXT, AccessTime TEXT);"
    "CREATE TABLE VISANETAccess(ProcessName TEXT, AccessTime TEXT);"
    "CREATE TABLE SorrelSessionAccess(SessionType TEXT, UsageCount INTEGER, StatisticsTime TEXT);";

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> messages() {
  std::vector<std::string> out;
  for (const pdatest::Event& e : pdatest::readEvents()) {
    EXPECT_EQ(e.type, "INFORMATION") << e.message;
    out.push_back(e.message);
  }
  return out;
}

#if !defined(_WIN32)
// The exit code of body, run in a child process (as the user nobody when
// this process is root, so that file permissions hold for it).
template <typename Body>
int inChildWithoutRights(const pdatest::TempMachine& machine, Body body) {
  ::chmod(machine.root().c_str(), 0755);
  const std::string log = machine.path("EventLog");
  ::mkdir(log.c_str(), 0777);
  ::chmod(log.c_str(), 0777);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace

// A file that is no database, whole or cut to its first bytes: every add
// fails with its report, and the file stays as it was.
TEST(AnalyticsBadInput, FileThatIsNoDatabase) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  std::string garbage;
  for (int i = 0; i < 300; ++i) garbage += "not a database " + std::to_string(i) + "\n";
  std::ofstream(db, std::ios::binary) << garbage;
  {
    SQLiteVISAUsageStorage storage;
    EXPECT_FALSE(storage.AddVISACUsageRecord("2024-01-01 10:00:00", "prog.exe"));
    EXPECT_FALSE(storage.AddSorrelSessionUsageRecord("HiSLIP", 2, "2024-01-01"));
  }
  EXPECT_EQ(
      messages(),
      (std::vector<std::string>{
          "SQLiteVISAUsageStorage: Failed to add VISA usage to VISACAccess.",
          "SQLiteVISAUsageStorage: Failed to add sorrel session usage to SorrelSessionAccess.",
      }));
  EXPECT_EQ(fileBytes(db), garbage);
}

TEST(AnalyticsBadInput, DatabaseCutShort) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  std::string rows = kSchema;
  for (int i = 0; i < 400; ++i)
    rows += "INSERT INTO VISACAccess VALUES('p" + std::to_string(i) + "', 't');";
  pdatest::sqlite(db, rows);
  const std::string whole = fileBytes(db);
  std::filesystem::resize_file(db, whole.size() / 3);

  // Whether a cut file still prepares a statement depends on where the cut
  // falls; an add that fails says so, and one that runs says nothing.
  {
    SQLiteVISAUsageStorage storage;
    const bool added = storage.AddVISACUsageRecord("t", "after the cut");
    EXPECT_EQ(messages().size(), added ? 0u : 1u);
  }
  std::filesystem::resize_file(db, 50);  // now the header is cut too
  SQLiteVISAUsageStorage again;
  EXPECT_FALSE(again.AddVISACUsageRecord("t", "no header"));
  EXPECT_EQ(messages().back(), "SQLiteVISAUsageStorage: Failed to add VISA usage to VISACAccess.");
}

// A table without one of the columns written fails that table's adds; the
// other tables take their rows.
TEST(AnalyticsBadInput, TableLackingAColumn) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  pdatest::sqlite(db,
                  "CREATE TABLE VISACAccess(ProcessName TEXT);"
                  "CREATE TABLE SorrelSessionAccess(SessionType TEXT, UsageCount INTEGER, "
                  "StatisticsTime TEXT);");
  SQLiteVISAUsageStorage storage;
  EXPECT_FALSE(storage.AddVISACUsageRecord("t", "p"));
  EXPECT_FALSE(storage.AddVISACOMUsageRecord("t", "p"));  // no table at all
  EXPECT_TRUE(storage.AddSorrelSessionUsageRecord("VXI-11", 3, "t"));
  EXPECT_EQ(pdatest::sqlite(db, "SELECT * FROM SorrelSessionAccess;"), "VXI-11|3|t\n");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT count(*) FROM VISACAccess;"), "0\n");
  EXPECT_EQ(messages(), (std::vector<std::string>{
                            "SQLiteVISAUsageStorage: Failed to add VISA usage to VISACAccess.",
                            "SQLiteVISAUsageStorage: Failed to add VISA usage to VISACOMAccess.",
                        }));
}

#if !defined(_WIN32)
// A file the process may read but not write: the statement is prepared and
// run, so the add answers true, but the row is refused: lost, and reported.
// The process without rights is a child made with fork, as the user nobody.
TEST(AnalyticsBadInput, DatabaseThatCannotBeWrittenLosesRowsAndSaysSo) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  pdatest::sqlite(db, kSchema);
  ASSERT_EQ(::chmod(db.c_str(), 0444), 0);
  EXPECT_EQ(inChildWithoutRights(machine,
                                 [] {
                                   SQLiteVISAUsageStorage storage;
                                   return storage.AddVISACUsageRecord("t", "p") ? 0 : 1;
                                 }),
            0);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT count(*) FROM VISACAccess;"), "0\n");
  EXPECT_EQ(messages(), (std::vector<std::string>{
                            "SQLiteVISAUsageStorage: Usage row lost: 'insert into VISACAccess "
                            "(ProcessName, AccessTime) values('p', 't')'\nerror=8\n"
                            "(attempt to write a readonly database)",
                        }));
}

#endif  // !_WIN32

// Another writer holds the database: an add waits for it up to about a
// second (its step is retried), and a row the database still did not take
// is lost and reported; the add answers true either way. The writer is the
// sqlite3 client, in a process of its own (under Wine, the Linux host's
// client).
TEST(AnalyticsBadInput, DatabaseLockedByAnotherWriter) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.dataDir() + "DataAnalytics.db";
  pdatest::sqlite(db, kSchema);
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
  EXPECT_EQ(messages(), (std::vector<std::string>{
                            "SQLiteVISAUsageStorage: Usage row lost: 'insert into VISACAccess "
                            "(ProcessName, AccessTime) values('lost', 't')'\nerror=5\n"
                            "(database is locked)",
                        }));
  EXPECT_TRUE(storage.AddVISACUsageRecord("t", "after"));
  EXPECT_EQ(pdatest::sqlite(db, "SELECT ProcessName FROM VISACAccess ORDER BY rowid;"),
            "before\nwaited\nafter\n");
}

// Sharing the store the way the suite's programs do: one node written by
// several threads, the first use of the remote PXI database by many threads,
// and a writer stopped while it holds the writers' lock. Readers started while
// processes write are the stress program's.
#include <atomic>

#include "Machine.h"
#include "pda/BasaltDataEngine.h"
#include "support/Threads.h"

#if !defined(_WIN32)
#  include <fcntl.h>
#  include <signal.h>
#  include <sys/file.h>
#  include <sys/resource.h>
#endif

using namespace sqltest;

namespace {

ChassisInfo chassis(const std::string& serial) {
  ChassisInfo info = {};
  std::snprintf(info.ChassisSN, sizeof info.ChassisSN, "%s", serial.c_str());
  std::snprintf(info.Vendor, sizeof info.Vendor, "V");
  std::snprintf(info.Model, sizeof info.Model, "M");
  std::snprintf(info.USBAddress, sizeof info.USBAddress, "USB0::%s", serial.c_str());
  return info;
}

}  // namespace

struct SQLiteSharing : WithDatabase {};

// Threads write through one fresh node whose table is large, so that the
// node's first fill is long: the writes are serialised and the node ends with
// the whole table and every thread's values.
TEST_F(SQLiteSharing, ThreadsWritingThroughOneFreshNode) {
  pdatest::sqlite(db,
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                  "INSERT INTO KestInfo SELECT NULL, 'Row' || i, i FROM n;");
  const int rounds = 8, threads = 4, writes = 2;
  for (int round = 0; round < rounds; ++round) {
    Node node = create(KestInfoBaseType);
    std::atomic<int> failures{0};
    pdatest::together(threads, [&](int t) {
      for (int i = 0; i < writes; ++i) {
        const std::string name =
            "R" + std::to_string(round) + "T" + std::to_string(t) + "_" + std::to_string(i);
        failures += node->setValueString(name.c_str(), "x") != 1;
      }
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(node->NameValueMap()->size(), 20000u + threads * writes * (round + 1));
  }
  EXPECT_EQ(pdatest::sqlite(db, "SELECT count(*) FROM KestInfo;"),
            std::to_string(20000 + rounds * threads * writes) + "\n");
  EXPECT_TRUE(events().empty());
}

// Values are one name whatever their letter case: a delete or a write names
// every stored spelling of the name, so no other spelling comes back at the
// next read.
TEST_F(SQLiteSharing, NamesInAnotherLetterCaseAreOneValue) {
  pdatest::sqlite(db,
                  "INSERT INTO VisaInfo VALUES(NULL,'Logging','on'),(NULL,'LOGGING','on2'),"
                  "(NULL,'Level','1');");
  Node node = create(VisaInfoBaseType);
  EXPECT_EQ(node->deleteName("logging"), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT NAME FROM VisaInfo ORDER BY ID;"), "Level\n");
  EXPECT_EQ(text(*node, "Logging"), "<none>");

  EXPECT_EQ(node->setValueString("LEVEL", "2"), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT NAME, VALUE FROM VisaInfo ORDER BY ID;"), "LEVEL|2\n");
  EXPECT_EQ(text(*node, "level"), "2");

  // In a keyed table only the record's own rows are named.
  Node chassis = create(ChassisBaseType);
  pdatest::sqlite(chassis->getDbPath(),
                  "INSERT INTO Chassis VALUES(NULL,'S1','State','0'),(NULL,'S2','STATE','0');");
  chassis->setRecordId("S1");
  EXPECT_EQ(chassis->setValueString("STATE", "1"), 1);
  EXPECT_EQ(pdatest::sqlite(chassis->getDbPath(),
                            "SELECT IDKEY, NAME, VALUE FROM Chassis ORDER BY IDKEY;"),
            "S1|STATE|1\nS2|STATE|0\n");
  for (const pdatest::Event& e : events()) EXPECT_EQ(e.type, "INFORMATION") << e.message;
}

// The record key of a write is taken when the write starts: the record key a
// caller gave an alias node, and for a configuration record the key its rows
// were read under, which is what a new reader groups it by.
TEST_F(SQLiteSharing, WritesUseTheKeyTheRecordIsReadBy) {
  // Aliases go into the configuration table, not the alias table; a node
  // never read has no key.
  Node alias = create(AliasBaseType);
  EXPECT_EQ(alias->setValueString("scope", "GPIB0::1"), 1);
  alias->setRecordId("MyKey");
  EXPECT_EQ(alias->setValueString("n2", "v2"), 1);
  EXPECT_EQ(pdatest::sqlite(db, "SELECT IDKEY, NAME, VALUE FROM ConfigData ORDER BY ID;"),
            "|scope|GPIB0::1\nMyKey|n2|v2\n");
  EXPECT_EQ(children(*create(AliasBaseType)), "");

  pdatest::sqlite(db,
                  "DELETE FROM ConfigData; INSERT INTO ConfigData VALUES"
                  "(NULL,'K1','RecordType','Interface'),(NULL,'K1','PersistentId','P1'),"
                  "(NULL,'K1','VISAName','GPIB0');");
  auto writeThroughTheTree = [] {
    Node config = create(KestConfigBaseType);
    int found = 0;
    IKestBase* gpib = config->findMap("GPIB0", &found)->second;
    if (found != 1) return 1;
    int ok = gpib->setValueString("VISAName", "TCPIP9");
    ok &= gpib->setValueString("Added", "yes");
    gpib->reInitialize();  // read again by itself, under its own key
    return ok == 1 && text(*gpib, "Added") == "yes" ? 0 : 2;
  };
#if !defined(_WIN32)
  EXPECT_EQ(join(spawn(writeThroughTheTree)), 0);  // another process writes
#else
  EXPECT_EQ(writeThroughTheTree(), 0);
#endif
  EXPECT_EQ(children(*create(KestConfigBaseType)), "TCPIP9;");
  EXPECT_EQ(pdatest::sqlite(db, "SELECT count(*) FROM ConfigData WHERE IDKEY <> 'K1';"), "0\n");
}

// Threads that make the first use of a missing remote PXI database never see
// it half built: every chassis whose addition succeeded is in the file. Each
// round is a fresh process on a machine without the file.
TEST_F(SQLiteSharing, FirstUseOfTheRemotePxiDatabaseByManyThreads) {
  const std::string pxi = machine.pxiDir() + "RemotePXI.db";
  auto round = [] {
    std::atomic<int> failures{0};
    pdatest::together(4, [&](int t) {
      BasaltDataEngine engine;
      for (int i = 0; i < 3; ++i)
        failures += engine.addChassis(chassis("SN" + std::to_string(t) + std::to_string(i))) != 0;
    });
    return failures.load();
  };
#if defined(_WIN32)
  EXPECT_EQ(round(), 0);
#else
  for (int r = 0; r < 4; ++r) {
    std::remove(pxi.c_str());
    EXPECT_EQ(join(spawn(round)), 0) << "round " << r;
  }
#endif
  EXPECT_EQ(pdatest::sqlite(pxi, "SELECT count(DISTINCT IDKEY) FROM Chassis;"), "12\n");
  EXPECT_EQ(pdatest::sqlite(pxi, "SELECT count(*) FROM sqlite_master, PciBuses;"), "40\n");
  for (const pdatest::Event& e : events()) EXPECT_EQ(e.type, "INFORMATION") << e.message;
}

#if !defined(_WIN32)
// A creation that fails (here: files may not grow past a few kilobytes)
// leaves no file and no connection behind; every later use starts afresh,
// and no addition reports success for a chassis that is not in the file.
TEST_F(SQLiteSharing, FailedCreationOfTheRemotePxiDatabaseLeavesNothingBehind) {
  const std::string pxi = machine.pxiDir() + "RemotePXI.db";
  pid_t child = spawn([&pxi] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = 10000;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::atomic<int> failed{0};
    pdatest::together(4, [&](int t) {
      failed += BasaltDataEngine().addChassis(chassis("A" + std::to_string(t))) != 0;
    });
    if (failed.load() != 4 || std::ifstream(pxi).good()) return 1;
    limit.rlim_cur = unlimited;
    setrlimit(RLIMIT_FSIZE, &limit);
    pdatest::together(4, [&](int t) {
      failed += BasaltDataEngine().addChassis(chassis("B" + std::to_string(t))) != 0;
    });
    return failed.load() == 4 ? 0 : 2;
  });
  EXPECT_EQ(join(child), 0);
  EXPECT_GE(countEvents("ERROR", "KestSQLite(): Failed to create remote 'PModules' table.\n"), 1);
  EXPECT_EQ(pdatest::sqlite(pxi, "SELECT count(*) FROM sqlite_master, PciBuses;"), "40\n");
  EXPECT_EQ(pdatest::sqlite(pxi,
                            "SELECT group_concat(DISTINCT IDKEY) FROM "
                            "(SELECT IDKEY FROM Chassis ORDER BY IDKEY);"),
            "B0,B1,B2,B3\n");
  EXPECT_EQ(pdatest::sqlite(pxi, "PRAGMA integrity_check;"), "ok\n");
}

// A writer never waits without bound for the writers' lock of a database:
// here a stopped process holds the lock file, and a write still completes.
TEST_F(SQLiteSharing, AStoppedHolderOfTheWritersLockDelaysAWriterBoundedly) {
  const std::string lockPath = db + "-lock";
  pid_t holder = spawn([&lockPath] {
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) return 1;
    raise(SIGSTOP);
    return 0;
  });
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, WUNTRACED), holder);
  ASSERT_TRUE(WIFSTOPPED(status));

  // An alarm ends a writer that still waits after 15 s.
  const int result = join(spawn([] {
    alarm(15);
    return create(KestInfoBaseType)->setValueString("A", "1") == 1 ? 0 : 1;
  }));
  kill(holder, SIGKILL);
  join(holder);
  EXPECT_EQ(result, 0) << "the writer waited for the stopped holder";
  EXPECT_EQ(pdatest::sqlite(db, "SELECT NAME, VALUE FROM KestInfo;"), "A|1\n");
}

#endif

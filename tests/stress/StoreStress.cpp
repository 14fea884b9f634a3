// Many writers on one configuration database and on one registry key:
// processes and threads writing through their own KestInfo records while
// others read, and a writer killed at random moments. Nothing a setter
// reported as stored may be lost, no name may end with two rows, and the
// database and the key's values file must stay whole.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>

#include "StressSupport.h"
#include "support/Fixtures.h"
#include "support/Threads.h"

using namespace stress;

namespace {

std::string valuesFileOf(const pdatest::TempMachine& machine) {
  return machine.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/.values");
}

// Eight writer processes (each its own names and the shared one) while two
// reader processes read the whole record over and over; the registry's
// readers also check that the values file is whole at every look.
Expected writeWhileTwoRead(const pdatest::TempMachine& machine, const std::string& store,
                           std::vector<std::pair<std::string, long long>>* counts) {
  const int writers = 8, writes = scaled(24, 500);
  const std::string stop = machine.path("stop-readers");
  std::vector<std::string> readerArgs = {store, stop};
  if (store == "registry") readerArgs.push_back(valuesFileOf(machine));
  const double start = nowMs();
  std::vector<Child> readers, children;
  for (int i = 0; i < 2; ++i) readers.push_back(spawn("reader", readerArgs));
  for (int i = 0; i < writers; ++i)
    children.push_back(
        spawn("writer", {std::to_string(i + 1), std::to_string(writes), "10", store}));
  Expected expected;
  for (Child& child : children) {
    const long long before = expected.writes;
    expected.addOutput(readAll(child.out));
    EXPECT_EQ(waitExit(child.pid), 0);
    EXPECT_EQ(expected.writes - before, writes) << "a writer stopped early";
  }
  const double ms = nowMs() - start;
  std::ofstream(stop) << "stop";
  long long reads = 0, fileLooks = 0, placeholders = 0;
  for (Child& reader : readers) {
    const auto c = parseCounts(readAll(reader.out));
    EXPECT_EQ(waitExit(reader.pid), 0);
    EXPECT_FALSE(c.empty()) << "a reader gave no counts";
    if (c.empty()) continue;
    EXPECT_EQ(c.at("regressions"), 0) << "a reader saw a value go back to an older one";
    EXPECT_EQ(c.at("malformed"), 0) << "a reader saw a value nobody wrote";
    EXPECT_EQ(c.at("tornFiles"), 0) << "a reader found a torn values file";
    EXPECT_GT(c.at("reads"), 0);
    reads += c.at("reads");
    fileLooks += c.at("fileLooks");
    placeholders += c.at("placeholders");
  }
  EXPECT_EQ(expected.failures, 0) << "a write returned 0";
  *counts = {{"writers", writers},
             {"writes", expected.writes},
             {"failures", expected.failures},
             {"reads", reads},
             {"emptyReads", placeholders},
             {"valuesFileLooks", fileLooks},
             {"ms", static_cast<long long>(ms)}};
  return expected;
}

// A rollback journal that still begins with its magic number: the writer
// died before its transaction ended, and the next connection with write
// access rolls the transaction back.
bool isHotJournal(const std::string& path) {
  static const unsigned char kMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
  unsigned char header[8] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(reinterpret_cast<char*>(header), sizeof header) &&
         std::memcmp(header, kMagic, sizeof kMagic) == 0;
}

// A new program reads the whole record after a kill: every confirmed name,
// holding its confirmed value or the pending one.
void checkProbe(const std::string& store, const std::map<std::string, std::string>& confirmed,
                const KillRound& round, int kill) {
  Child probe = spawn("probe", {store});
  const auto seen = parseProbe(readAll(probe.out));
  ASSERT_EQ(waitExit(probe.pid), 0);
  for (const auto& entry : confirmed) {
    auto it = seen.find(entry.first);
    ASSERT_NE(it, seen.end()) << "after kill " << kill << " a new reader misses " << entry.first;
    const bool isPending = entry.first == round.pendingName && it->second == round.pendingValue;
    EXPECT_TRUE(it->second == entry.second || isPending)
        << entry.first << " reads " << it->second << ", expected " << entry.second;
  }
}

}  // namespace

TEST(SQLiteStress, ProcessesWriteOneDatabaseWhileTwoRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  std::vector<std::pair<std::string, long long>> counts;
  const Expected expected = writeWhileTwoRead(machine, "sqlite", &counts);
  checkFinal(tableRows(db, "KestInfo"), expected);
  EXPECT_EQ(integrityCheck(db), "ok");
  // Writes report nothing. A reader may report a query that stayed busy for
  // its 100 attempts (readers meet a committing writer's lock and get no
  // retry beyond those): counted, not a failure.
  std::string errors;
  EXPECT_EQ(countEvents("ERROR", &errors, kWriteReports), 0) << errors;
  EXPECT_EQ(countEvents("WARNING", &errors, kWriteReports), 0) << errors;
  const int readErrors = countEvents("ERROR", nullptr, kReadReports);
  EXPECT_EQ(countEvents("ERROR", &errors), readErrors)
      << "reports from neither a read nor a write:\n"
      << errors;
  counts.push_back({"readErrors", readErrors});
  report("sqlite-processes", counts);
}

TEST(RegistryStress, ProcessesWriteOneKeyWhileTwoRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  std::vector<std::pair<std::string, long long>> counts;
  const Expected expected = writeWhileTwoRead(machine, "registry", &counts);
  ASSERT_FALSE(expected.sharedValues.empty());
  checkFinal(keyValues(valuesFileOf(machine)), expected);
  report("registry-processes", counts);
}

// Threads share the process's connections: the write transactions of the
// records must not interleave on the one read-write connection, and readers
// on further threads use the one read-only connection meanwhile.
TEST(SQLiteStress, ThreadsOfOneProcessWriteAtOnce) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  const int threads = 8, writes = scaled(24, 500);
  std::atomic<int> writing{threads};
  std::atomic<long long> reads{0}, regressions{0}, malformed{0};
  Expected expected;
  std::mutex expectedMutex;
  const double start = nowMs();
  // Two reader threads beside the writers, reading until the last writer ends.
  pdatest::together(threads + 2, [&](int t) {
    if (t < threads) {
      KestInfo record(SQLiteDataSource);
      for (int k = 1; k <= writes; ++k) {
        const std::string name = k % 4 == 0 ? std::string(kSharedName) : ownName(100 + t, k % 10);
        const std::string value = valueOf(100 + t, k);
        const int rc = record.setValueString(name.c_str(), value.c_str());
        std::lock_guard<std::mutex> guard(expectedMutex);
        expected.add(name, value, rc);
      }
      --writing;
      return;
    }
    SequenceCheck check;
    do {
      KestInfo record(SQLiteDataSource);
      check.look(*record.getIKestBase()->NameValueMap());
      ++reads;
    } while (writing.load() > 0);
    regressions += check.regressions;
    malformed += check.malformed;
  });
  const double ms = nowMs() - start;
  EXPECT_EQ(expected.failures, 0) << "a write returned 0";
  EXPECT_EQ(regressions.load(), 0);
  EXPECT_EQ(malformed.load(), 0);
  checkFinal(tableRows(db, "KestInfo"), expected);
  EXPECT_EQ(integrityCheck(db), "ok");
  // A transaction begun inside another's, or rolled back under it, is
  // reported; none may be.
  std::string detail;
  EXPECT_EQ(countEvents("ERROR", &detail), 0) << detail;
  EXPECT_EQ(countEvents("WARNING", &detail), 0) << detail;
  report("sqlite-threads", {{"threads", threads},
                            {"writes", expected.writes},
                            {"failures", expected.failures},
                            {"reads", reads.load()},
                            {"ms", static_cast<long long>(ms)}});
}

// A writer killed while it writes: each kill lands at a random moment, often
// inside a transaction. The next program to start must find the database
// intact, every name in one row holding its old value or the one being
// written, and must read it through the library.
TEST(SQLiteStress, WriterKilledAtRandomMomentsLeavesEveryValueWhole) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  const int names = 8, kills = scaled(10, 50);
  std::string seed;
  std::map<std::string, std::string> confirmed;
  for (int i = 0; i < names; ++i) {
    confirmed[ownName(0, i)] = valueOf(0, 0);
    seed += "INSERT INTO KestInfo VALUES(NULL, " + pdatest::sqlQuote(ownName(0, i)) + ", " +
            pdatest::sqlQuote(valueOf(0, 0)) + ");\n";
  }
  pdatest::sqlite(db, seed);
  int sequence = 1;
  long long midWrite = 0, landed = 0, writes = 0, failures = 0, hotJournals = 0;
  for (int kill = 0; kill < kills; ++kill) {
    Child child = spawn("kill-writer", {"sqlite", std::to_string(names), std::to_string(sequence)});
    const std::string output = killAtRandomMoment(child, 150);
    ASSERT_EQ(waitExit(child.pid), 128 + SIGKILL) << "the writer ended on its own:\n" << output;
    const KillRound round = takeKilled(output, &sequence, &confirmed, &writes, &failures);
    midWrite += !round.pendingName.empty();
    // A new program reads first, before anything else has touched the file
    // since the kill: it must see every name, each old or new, also when the
    // kill left a hot journal that only a connection with write access can
    // roll back.
    hotJournals += isHotJournal(db + "-journal");
    checkProbe("sqlite", confirmed, round, kill);
    ASSERT_EQ(integrityCheck(db), "ok") << "after kill " << kill;
    const Rows rows = tableRows(db, "KestInfo");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(names));
    checkAfterKill(rows, round, &confirmed, &landed, kill);
  }
  EXPECT_EQ(failures, 0) << "a write returned 0 with no other writer about";
  report("sqlite-kill", {{"kills", kills},
                         {"killedMidWrite", midWrite},
                         {"pendingWritesThatLanded", landed},
                         {"writes", writes},
                         {"failures", failures},
                         {"hotJournalsLeft", hotJournals},
                         {"probes", kills}});
}

// The same on the registry: the values file, then a new program reading
// through the library.
TEST(RegistryStress, WriterKilledMidWriteLosesNothing) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const int names = 8, kills = scaled(10, 50);
  std::map<std::string, std::string> confirmed;
  int sequence = 1;
  long long midWrite = 0, landed = 0, writes = 0, failures = 0;
  for (int kill = 0; kill < kills; ++kill) {
    Child child =
        spawn("kill-writer", {"registry", std::to_string(names), std::to_string(sequence)});
    const std::string output = killAtRandomMoment(child, 40);
    ASSERT_EQ(waitExit(child.pid), 128 + SIGKILL) << "the writer ended on its own:\n" << output;
    const KillRound round = takeKilled(output, &sequence, &confirmed, &writes, &failures);
    midWrite += !round.pendingName.empty();
    checkAfterKill(keyValues(valuesFileOf(machine), confirmed.empty()), round, &confirmed, &landed,
                   kill);
    checkProbe("registry", confirmed, KillRound(), kill);
  }
  EXPECT_EQ(failures, 0) << "a write returned 0 with no other writer about";
  report("registry-kill", {{"kills", kills},
                           {"killedMidWrite", midWrite},
                           {"pendingWritesThatLanded", landed},
                           {"writes", writes},
                           {"failures", failures}});
}

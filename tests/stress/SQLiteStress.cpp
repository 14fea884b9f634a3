// Many writers on one configuration database: processes and threads writing
// through their own KestInfo records while others read, and a writer killed
// at random moments. Nothing a setter reported as stored may be lost, no
// name may end with two rows, and the database must stay intact.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "StressChecks.h"
#include "StressSupport.h"
#include "pda/KestInfo.h"
#include "support/Fixtures.h"

using namespace stress;

namespace {

// The last successful value of every name a writer wrote, and every value the
// shared name was successfully given.
struct Expected {
  std::map<std::string, std::string> last;
  std::set<std::string> sharedValues;
  long long writes = 0;
  long long failures = 0;
};

void collect(const std::vector<Write>& writes, Expected* expected) {
  for (const Write& w : writes) {
    ++expected->writes;
    if (w.result != 1) {
      ++expected->failures;
      continue;
    }
    if (w.name == kSharedName)
      expected->sharedValues.insert(w.value);
    else
      expected->last[w.name] = w.value;
  }
}

// Every own name holds its last value in exactly one row; the shared name has
// one row with one of the values given to it; nothing else is in the table.
void checkFinalTable(const std::string& db, const Expected& expected) {
  const auto rows = tableRows(db, "KestInfo");
  for (const auto& entry : expected.last) {
    auto it = rows.find(entry.first);
    ASSERT_NE(it, rows.end()) << entry.first << " was stored and is gone";
    ASSERT_EQ(it->second.size(), 1u) << entry.first << " has several rows";
    EXPECT_EQ(it->second[0], entry.second) << entry.first << " lost its last write";
  }
  if (!expected.sharedValues.empty()) {
    auto it = rows.find(kSharedName);
    ASSERT_NE(it, rows.end());
    ASSERT_EQ(it->second.size(), 1u) << "the shared name has several rows";
    EXPECT_EQ(expected.sharedValues.count(it->second[0]), 1u)
        << "the shared name holds a value nobody stored: " << it->second[0];
  }
  EXPECT_EQ(rows.size(), expected.last.size() + (expected.sharedValues.empty() ? 0 : 1));
  EXPECT_EQ(integrityCheck(db), "ok");
}

void touch(const std::string& path) {
  std::ofstream(path) << "stop";
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

}  // namespace

TEST(SQLiteStress, ProcessesWriteOneDatabaseWhileTwoRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  const int writers = 8;
  const int writes = scaled(24, 500);
  const int ownNames = 10;
  const std::string stop = machine.path("stop-readers");

  const double start = nowMs();
  std::vector<Child> readers;
  for (int i = 0; i < 2; ++i) readers.push_back(spawn("reader", {"sqlite", stop}));
  std::vector<Child> children;
  for (int i = 0; i < writers; ++i)
    children.push_back(spawn("writer", {std::to_string(i + 1), std::to_string(writes),
                                        std::to_string(ownNames), "sqlite"}));

  Expected expected;
  for (Child& child : children) {
    const std::vector<Write> done = parseWrites(readAll(child.out));
    EXPECT_EQ(waitExit(child.pid), 0);
    EXPECT_EQ(done.size(), static_cast<std::size_t>(writes)) << "a writer stopped early";
    collect(done, &expected);
  }
  const double writeMs = nowMs() - start;
  touch(stop);
  long long reads = 0, placeholders = 0;
  for (Child& reader : readers) {
    const auto counts = parseCounts(readAll(reader.out));
    EXPECT_EQ(waitExit(reader.pid), 0);
    ASSERT_FALSE(counts.empty()) << "a reader gave no counts";
    EXPECT_EQ(counts.at("regressions"), 0) << "a reader saw a value go back to an older one";
    EXPECT_EQ(counts.at("malformed"), 0) << "a reader saw a value nobody wrote";
    EXPECT_GT(counts.at("reads"), 0);
    reads += counts.at("reads");
    placeholders += counts.at("placeholders");
  }

  EXPECT_EQ(expected.failures, 0) << "a write returned 0";
  checkFinalTable(db, expected);
  // Writes report nothing. A reader may report a query that stayed busy for
  // its 100 attempts (readers meet a committing writer's lock and get no
  // retry beyond those): counted, not a failure.
  std::string errors;
  EXPECT_EQ(countWriteEvents("ERROR", &errors), 0) << errors;
  EXPECT_EQ(countWriteEvents("WARNING", &errors), 0) << errors;
  const int readErrors = countReadEvents("ERROR");
  EXPECT_EQ(countEvents("ERROR", &errors), readErrors)
      << "reports from neither a read nor a write:\n"
      << errors;
  report("sqlite-processes", {{"writers", writers},
                              {"writes", expected.writes},
                              {"failures", expected.failures},
                              {"reads", reads},
                              {"emptyReads", placeholders},
                              {"readErrors", readErrors},
                              {"ms", static_cast<long long>(writeMs)}});
}

// Threads share the process's connections: the write transactions of the
// records must not interleave on the one read-write connection, and readers
// on further threads use the one read-only connection meanwhile.
TEST(SQLiteStress, ThreadsOfOneProcessWriteAtOnce) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  const int threads = 8;
  const int writes = scaled(24, 500);
  const int ownNames = 10;

  std::atomic<int> ready{0};
  std::atomic<bool> writing{true};
  std::vector<std::vector<Write>> done(threads);
  auto writer = [&](int t) {
    const int id = 100 + t;
    ready.fetch_add(1);
    while (ready.load() < threads) std::this_thread::yield();
    KestInfo record(SQLiteDataSource);
    for (int k = 1; k <= writes; ++k) {
      Write w;
      w.name = k % 4 == 0 ? std::string(kSharedName) : ownName(id, k % ownNames);
      w.value = valueOf(id, k);
      w.result = record.setValueString(w.name.c_str(), w.value.c_str());
      done[t].push_back(w);
    }
  };
  std::atomic<long long> reads{0}, regressions{0}, malformed{0};
  auto reader = [&]() {
    std::map<std::string, int> newest;
    do {
      KestInfo record(SQLiteDataSource);
      ::NameValueMap* map = record.getIKestBase()->NameValueMap();
      ++reads;
      for (const auto& entry : *map) {
        if (entry.first == "FAKENAME***") continue;
        const int sequence = parseSequence(entry.second);
        if (sequence < 0) {
          ++malformed;
          continue;
        }
        if (entry.first == kSharedName) continue;
        int& seen = newest[entry.first];
        if (sequence < seen) ++regressions;
        if (sequence > seen) seen = sequence;
      }
    } while (writing.load());
  };

  const double start = nowMs();
  std::vector<std::thread> readerThreads;
  for (int i = 0; i < 2; ++i) readerThreads.emplace_back(reader);
  std::vector<std::thread> writerThreads;
  for (int t = 0; t < threads; ++t) writerThreads.emplace_back(writer, t);
  for (std::thread& t : writerThreads) t.join();
  writing = false;
  for (std::thread& t : readerThreads) t.join();
  const double ms = nowMs() - start;

  Expected expected;
  for (const auto& threadWrites : done) collect(threadWrites, &expected);
  EXPECT_EQ(expected.failures, 0) << "a write returned 0";
  EXPECT_EQ(regressions.load(), 0);
  EXPECT_EQ(malformed.load(), 0);
  checkFinalTable(db, expected);
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
  const int names = 8;
  const int kills = scaled(10, 50);
  std::string seed;
  std::map<std::string, std::string> confirmed;
  for (int i = 0; i < names; ++i) {
    confirmed[ownName(0, i)] = valueOf(0, 0);
    seed += "INSERT INTO KestInfo VALUES(NULL, " + pdatest::sqlQuote(ownName(0, i)) + ", " +
            pdatest::sqlQuote(valueOf(0, 0)) + ");\n";
  }
  pdatest::sqlite(db, seed);

  int sequence = 1;
  long long midWrite = 0, landed = 0, writes = 0, failures = 0, probes = 0, hotJournals = 0;
  for (int kill = 0; kill < kills; ++kill) {
    Child child = spawn("kill-writer", {"sqlite", std::to_string(names), std::to_string(sequence)});
    const std::string output = killAtRandomMoment(child, 150);
    ASSERT_EQ(waitExit(child.pid), 128 + SIGKILL) << "the writer ended on its own:\n" << output;

    std::string pendingName, pendingValue;
    for (const std::string& line : lines(output)) {
      const std::vector<std::string> w = words(line);
      if (w.size() == 3 && w[0] == "B") {
        pendingName = w[1];
        pendingValue = w[2];
        ++sequence;
      } else if (w.size() == 2 && w[0] == "E" && !pendingName.empty()) {
        ++writes;
        if (w[1] == "1")
          confirmed[pendingName] = pendingValue;
        else
          ++failures;
        pendingName.clear();
      }
    }
    ++sequence;
    if (!pendingName.empty()) ++midWrite;

    // A new program reads first, before anything else has touched the file
    // since the kill: it must see every name, each old or new, also when the
    // kill left a hot journal that only a connection with write access can
    // roll back.
    if (isHotJournal(db + "-journal")) ++hotJournals;
    Child probe = spawn("probe", {"sqlite"});
    const auto seen = parseProbe(readAll(probe.out));
    ASSERT_EQ(waitExit(probe.pid), 0);
    ++probes;
    for (const auto& entry : confirmed) {
      auto it = seen.find(entry.first);
      ASSERT_NE(it, seen.end()) << "after kill " << kill << " a new reader does not see "
                                << entry.first;
      const bool isPending = entry.first == pendingName && it->second == pendingValue;
      EXPECT_TRUE(it->second == entry.second || isPending)
          << entry.first << " reads " << it->second << ", expected " << entry.second;
    }

    ASSERT_EQ(integrityCheck(db), "ok") << "after kill " << kill;
    const auto rows = tableRows(db, "KestInfo");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(names));
    for (const auto& entry : confirmed) {
      auto it = rows.find(entry.first);
      ASSERT_NE(it, rows.end()) << entry.first << " lost after kill " << kill;
      ASSERT_EQ(it->second.size(), 1u) << entry.first << " has several rows after kill " << kill;
      const std::string& value = it->second[0];
      if (entry.first == pendingName && value == pendingValue) {
        ++landed;
        confirmed[entry.first] = value;
      } else {
        ASSERT_EQ(value, entry.second) << entry.first << " after kill " << kill;
      }
    }
  }
  EXPECT_EQ(failures, 0) << "a write returned 0 with no other writer about";
  report("sqlite-kill", {{"kills", kills},
                         {"killedMidWrite", midWrite},
                         {"pendingWritesThatLanded", landed},
                         {"writes", writes},
                         {"failures", failures},
                         {"hotJournalsLeft", hotJournals},
                         {"probes", probes}});
}

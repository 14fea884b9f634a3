// The SQLite store shared the way the suite's programs share it: many
// threads writing through one node, threads making the first use of the
// remote PXI database while its creation fails, programs that start and read
// while eight processes write, and a writer stopped in the middle of a write.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "StressSupport.h"
#include "core/NodeHolder.h"
#include "pda/BasaltDataEngine.h"
#include "pda/KestInfo.h"
#include "pda/KestSQLite.h"
#include "support/Fixtures.h"
#include "support/Threads.h"

using namespace stress;

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

// Eight threads write through one node (a fresh one, so that its first read
// races the writes) while each reads its own values back through records of
// its own: every write succeeds, the node ends with every last value, and
// the table holds each name once.
TEST(SharingStress, ThreadsWriteThroughOneNode) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  const int threads = 8, writes = scaled(20, 300);
  pda::NodeHolder<KestSQLite> node(KestSQLite::CreateInstance(KestInfoBaseType));
  std::atomic<int> failures{0}, staleReads{0};
  const double start = nowMs();
  pdatest::together(threads, [&](int t) {
    for (int k = 1; k <= writes; ++k) {
      const std::string name = ownName(t, k % 5), value = valueOf(t, k);
      const bool stored = node->setValueString(name.c_str(), value.c_str()) == 1;
      failures += !stored;
      if (!stored || k % 10 != 0) continue;
      KestInfo own(SQLiteDataSource);
      char read[256];
      own.getIKestBase()->getValueString(name.c_str(), read, sizeof read, "");
      staleReads += value != read;
    }
  });
  const double ms = nowMs() - start;
  std::string detail;
  EXPECT_EQ(countEvents("ERROR", &detail), 0) << detail;
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(staleReads.load(), 0) << "a write was not read back by a new record";
  const auto rows = tableRows(db, "KestInfo");
  Expected expected;  // what the node holds
  for (int t = 0; t < threads; ++t)
    for (int i = 0; i < 5; ++i) {
      char held[256];
      node->getValueString(ownName(t, i).c_str(), held, sizeof held, "");
      expected.last[ownName(t, i)] = held;
    }
  checkFinal(rows, expected);
  report("sharing-one-node", {{"threads", threads},
                              {"writes", threads * writes},
                              {"failures", failures.load()},
                              {"ms", static_cast<long long>(ms)}});
}

// Rounds of threads that each add chassis to a machine without the remote
// PXI database, in a process whose files may at first not grow past a few
// kilobytes (every creation fails), then may: no addition that reported
// success is missing from the file, and none that failed is half there.
TEST(SharingStress, FirstUseOfTheRemotePxiDatabaseWithAFailedCreation) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  const int rounds = scaled(2, 20), threads = 8, perThread = 3;
  long long added = 0, refused = 0, missing = 0;
  for (int r = 0; r < rounds; ++r) {
    std::remove(db.c_str());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {  // each round's first use in a fresh process
      close(pipeFds[0]);
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit;
      getrlimit(RLIMIT_FSIZE, &limit);
      const rlim_t was = limit.rlim_cur;
      std::string out;
      std::mutex outMutex;
      for (int phase = 0; phase < 2; ++phase) {
        limit.rlim_cur = phase == 0 ? 10000 : was;
        setrlimit(RLIMIT_FSIZE, &limit);
        pdatest::together(threads, [&](int t) {
          for (int i = 0; i < perThread; ++i) {
            ChassisInfo info = {};
            std::snprintf(info.ChassisSN, sizeof info.ChassisSN, "P%dT%dN%d", phase, t, i);
            std::snprintf(info.Vendor, sizeof info.Vendor, "V");
            const int rc = BasaltDataEngine().addChassis(info);
            std::lock_guard<std::mutex> guard(outMutex);
            out += std::string(rc == 0 ? "ok " : "no ") + info.ChassisSN + "\n";
          }
        });
      }
      if (write(pipeFds[1], out.data(), out.size()) < 0) _exit(3);
      _exit(0);
    }
    close(pipeFds[1]);
    const std::string out = readAll(pipeFds[0]);
    EXPECT_EQ(waitExit(child), 0);
    const std::string inFile =
        pdatest::sqlite(db, "SELECT DISTINCT IDKEY FROM Chassis WHERE NAME = 'RecordType';");
    for (const std::string& line : lines(out)) {
      const std::vector<std::string> w = words(line);
      if (w.size() != 2) continue;
      added += w[0] == "ok";
      refused += w[0] != "ok";
      missing += w[0] == "ok" && !contains(lines(inFile), w[1]);
    }
    EXPECT_EQ(integrityCheck(db), "ok");
  }
  EXPECT_EQ(missing, 0) << "an addition reported success and is not in the file";
  EXPECT_EQ(refused, rounds * threads * perThread) << "an addition failed once files could grow";
  EXPECT_GT(added, 0);
  report("sharing-pxi-first-use",
         {{"rounds", rounds}, {"added", added}, {"refused", refused}, {"missing", missing}});
}

// Programs that start while eight processes write (four in the short form)
// read the stored setting, never the default: a read waits for the writers'
// commits within its bound and takes its turn among them.
TEST(SharingStress, ReadersStartedWhileEightProcessesWrite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db, "INSERT INTO KestInfo VALUES(NULL,'Stored','yes');");
  std::vector<Child> writers;
  for (int i = 0; i < scaled(4, 8); ++i)
    writers.push_back(
        spawn("writer", {std::to_string(i + 1), std::to_string(scaled(30, 300)), "5", "sqlite"}));
  long long readers = 0, defaults = 0;
  std::vector<int> exits(writers.size(), -1);
  std::size_t ended = 0;
  const double start = nowMs();
  while (ended < writers.size() || readers < scaled(20, 200)) {
    Child reader = spawn("read-stored", {"Stored", "yes"});
    readAll(reader.out);
    defaults += waitExit(reader.pid) != 0;
    ++readers;
    for (std::size_t i = 0; i < writers.size(); ++i) {
      int status = 0;
      if (exits[i] < 0 && waitpid(writers[i].pid, &status, WNOHANG) == writers[i].pid) {
        exits[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        ++ended;
      }
    }
    if (nowMs() - start > 300000) break;
  }
  long long failures = 0;
  for (std::size_t i = 0; i < writers.size(); ++i) {
    if (exits[i] < 0) exits[i] = waitExit(writers[i].pid);
    EXPECT_EQ(exits[i], 0);
    for (const std::string& line : lines(readAll(writers[i].out)))
      failures += line.size() > 2 && line.compare(line.size() - 2, 2, " 0") == 0;
  }
  EXPECT_EQ(defaults, 0) << "a program read the default of a stored setting";
  report("sharing-readers-during-writers",
         {{"readers", readers}, {"defaults", defaults}, {"writeFailures", failures}});
}

// A writer stopped (SIGSTOP) in the middle of a write holds the database's
// locks until it goes on: the other writers' calls end within their bound
// (they fail while the stopped one holds the write lock) and none waits for
// it beyond that.
TEST(SharingStress, WriterStoppedMidWriteHoldsNoOneBeyondTheBound) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  Child stopped = spawn("kill-writer", {"sqlite", "3", "1"});
  readSome(stopped.out);  // it has begun writing
  std::this_thread::sleep_for(std::chrono::milliseconds(randomBelow(20)));
  kill(stopped.pid, SIGSTOP);
  std::vector<Child> others;
  for (int i = 0; i < 3; ++i)
    others.push_back(spawn("timed-writer", {std::to_string(i + 1), std::to_string(scaled(3, 20))}));
  long long writes = 0, failures = 0, slowest = 0;
  for (Child& w : others) {
    const std::vector<std::string> w4 = words(readAll(w.out));
    EXPECT_EQ(waitExit(w.pid), 0);
    ASSERT_EQ(w4.size(), 4u);
    writes += std::stoll(w4[1]);
    failures += std::stoll(w4[2]);
    slowest = std::max(slowest, std::stoll(w4[3]));
  }
  kill(stopped.pid, SIGKILL);
  waitExit(stopped.pid);
  // The bound: a second for the writers' file lock, then a second of BEGIN
  // retries; generous for a loaded machine, far from "for ever".
  EXPECT_LT(slowest, 6000) << "a write waited for the stopped writer";
  EXPECT_EQ(integrityCheck(db), "ok");
  report("sharing-stopped-writer",
         {{"writes", writes}, {"failures", failures}, {"slowestMs", slowest}});
}

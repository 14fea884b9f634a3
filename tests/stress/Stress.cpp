// The stress program: many processes and threads on one database file and one
// registry key, writers killed or stopped mid-write. Run as a test program it
// runs the scenarios (the short form; --long or PDA_STRESS_LONG=1 for the long
// one, which PDA_STRESS_SCALE=N multiplies); started with --child it plays one
// role in a process of its own and writes one line per fact for the parent:
//   W <name> <value> <result>   a write and the setter's result
//   T <ms>                      a writer's slowest write
//   B <name> <value>, E <result>  a write about to start, and its end
//   R <reads> <regressions> <malformed> <torn files>   a reader's counts
//   V <name> <value>            a value that a probe read
//   ok|no <serial>              a chassis addition and whether it succeeded
// Names and values never hold blanks.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/NodeHolder.h"
#include "pda/BasaltDataEngine.h"
#include "pda/KestInfo.h"
#include "pda/KestSQLite.h"
#include "platform/posix/ValuesFile.h"
#include "support/Fixtures.h"
#include "support/Threads.h"

namespace {

bool longForm = false;
const char* const kSharedName = "SharedSetting";
using Counts = std::vector<std::pair<std::string, long long>>;
using Words = std::vector<std::string>;
using Values = std::map<std::string, std::string>;

// shortValue in the short form, longValue (times PDA_STRESS_SCALE) in the long.
int scaled(int shortValue, int longValue) {
  const char* env = std::getenv("PDA_STRESS_LONG");
  if (!longForm && !(env && std::string(env) == "1")) return shortValue;
  const char* scale = std::getenv("PDA_STRESS_SCALE");
  return longValue * std::max(1, scale ? std::atoi(scale) : 1);
}

double nowMs() {  // monotonic
  using Ms = std::chrono::duration<double, std::milli>;
  return Ms(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// In [0, bound), bound > 0; only the main thread draws.
unsigned randomBelow(unsigned bound) {
  static std::mt19937 generator(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  return static_cast<unsigned>(generator() % bound);
}

// A child process: this program with "--child <role> <args...>".
struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of the child's standard output
};

Child spawn(const std::string& role, const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argvText = {"/proc/self/exe", "--child", role};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {  // only async-signal-safe calls between fork and exec
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  return Child{pid, pipeFds[0]};
}

// What one read gives: waits until the child has written something.
std::string readSome(int fd) {
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Everything the child writes until it closes its output (or dies).
std::string readAll(int fd) {
  std::string text;
  for (std::string part; !(part = readSome(fd)).empty();) text += part;
  ::close(fd);
  return text;
}

// The child's exit code, or 128 + the signal that ended it.
int waitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status)     ? WEXITSTATUS(status)
         : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                               : -1;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The lines of a child's output that start with tag, split into words.
std::vector<Words> tagged(const std::string& output, const std::string& tag) {
  std::vector<Words> out;
  for (const std::string& line : lines(output)) {
    std::istringstream in(line);
    Words w;
    for (std::string word; in >> word;) w.push_back(word);
    if (!w.empty() && w[0] == tag) out.push_back(std::move(w));
  }
  return out;
}

// Prints "[stress] <scenario> (short|long): a=1 b=2" for scripts/stress.
void report(const std::string& scenario, const Counts& counts) {
  std::string line = "[stress] " + scenario + (scaled(0, 1) ? " (long):" : " (short):");
  for (const auto& count : counts) line += " " + count.first + "=" + std::to_string(count.second);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// "p<writer>-<sequence>", some with a single quote and more text after it, so
// that quoting is exercised everywhere; parseSequence gives the sequence back
// (-1 for a text of another form).
std::string valueOf(int writer, int sequence) {
  return "p" + std::to_string(writer) + "-" + std::to_string(sequence) +
         (sequence % 7 == 3 ? "-'q''x" : "");
}

int parseSequence(const std::string& value) {
  const std::size_t dash = value.find('-');
  if (value.size() < 2 || value[0] != 'p' || dash == std::string::npos) return -1;
  const int writer = std::atoi(value.c_str() + 1), sequence = std::atoi(value.c_str() + dash + 1);
  return valueOf(writer, sequence) == value ? sequence : -1;
}

std::string ownName(int writer, int index) {
  return "Writer" + std::to_string(writer) + "Name" + std::to_string(index);
}

// What readers see: a value nobody wrote, or a writer's own name going back
// to an older value (each writer writes its names in increasing sequence).
struct SequenceCheck {
  std::map<std::string, int> newest;
  long long malformed = 0, regressions = 0;
  void look(const ::NameValueMap& map) {
    for (const auto& entry : map) {
      if (entry.first.compare(0, 6, "Writer") != 0 && entry.first != kSharedName) continue;
      const int sequence = parseSequence(entry.second);
      malformed += sequence < 0;
      if (sequence < 0 || entry.first == kSharedName) continue;
      int& seen = newest[entry.first];
      regressions += sequence < seen;
      seen = std::max(seen, sequence);
    }
  }
};

// name -> every value stored under it: the table as the sqlite3 client sees it
// in row order, or the registry key's values file (which must be whole).
using Rows = std::map<std::string, std::vector<std::string>>;

Rows tableRows(const std::string& db) {
  Rows rows;
  for (const std::string& line : lines(pdatest::sqlite(
           db, ".separator \"\\t\"\nSELECT NAME, VALUE FROM KestInfo ORDER BY ID;\n"))) {
    const std::size_t tab = line.find('\t');
    rows[line.substr(0, tab)].push_back(tab == std::string::npos ? "<no value column>"
                                                                 : line.substr(tab + 1));
  }
  return rows;
}

std::string valuesFileOf(const pdatest::TempMachine& machine) {
  return machine.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion/.values");
}

Rows keyValues(const pdatest::TempMachine& machine, bool mayBeMissing = false) {
  std::vector<pda::platform::RegValue> values;
  const auto result = pda::platform::readValuesFile(valuesFileOf(machine), &values);
  EXPECT_TRUE(result == pda::platform::ValuesReadResult::ok ||
              (mayBeMissing && result == pda::platform::ValuesReadResult::missing))
      << "the values file is torn";
  Rows out;
  for (const pda::platform::RegValue& v : values) {
    std::string text = v.data;  // REG_SZ data without its terminator
    if (!text.empty() && text.back() == '\0') text.pop_back();
    EXPECT_EQ(out.count(v.name), 0u) << v.name << " is stored twice";
    out[v.name].push_back(text);
  }
  return out;
}

std::string integrityCheck(const std::string& db) {
  return pdatest::sqlite(db, "PRAGMA integrity_check;\n");
}

// The events of type in the machine's event log, all or those whose message
// starts with one of prefixes: "source: message" lines.
std::string events(const std::string& type, const std::vector<std::string>& prefixes = {}) {
  std::string out;
  for (const pdatest::Event& e : pdatest::readEvents()) {
    bool selected = prefixes.empty();
    for (const std::string& p : prefixes) selected = selected || e.message.rfind(p, 0) == 0;
    if (e.type == type && selected) out += e.source + ": " + e.message + "\n";
  }
  return out;
}

// What writers said they did: the last successful value of every own name and
// every value the shared name was given.
struct Expected {
  Values last;
  std::set<std::string> sharedValues;
  long long writes = 0, failures = 0;
  void add(const std::string& name, const std::string& value, int result) {
    ++writes;
    if (result != 1)
      ++failures;
    else if (name == kSharedName)
      sharedValues.insert(value);
    else
      last[name] = value;
  }
  void addOutput(const std::string& output) {
    for (const auto& w : tagged(output, "W"))
      if (w.size() == 4) add(w[1], w[2], std::atoi(w[3].c_str()));
  }
};

// The write a killed writer died in, if any.
struct KillRound {
  std::string pendingName, pendingValue;
};

// Each confirmed name in exactly one row, holding its confirmed value or the
// pending one (which then counts as confirmed, as does a first write of a
// name that landed).
void checkRows(const Rows& rows, Values* confirmed, const KillRound& round = {}, int kill = -1) {
  for (auto& entry : *confirmed) {
    auto it = rows.find(entry.first);
    ASSERT_NE(it, rows.end()) << entry.first << " is gone after kill " << kill;
    ASSERT_EQ(it->second.size(), 1u) << entry.first << " has several rows after kill " << kill;
    if (entry.first == round.pendingName && it->second[0] == round.pendingValue)
      entry.second = round.pendingValue;
    else
      ASSERT_EQ(it->second[0], entry.second) << entry.first << " after kill " << kill;
  }
  auto it = rows.find(round.pendingName);
  if (!round.pendingName.empty() && it != rows.end() && it->second.size() == 1 &&
      it->second[0] == round.pendingValue)
    (*confirmed)[round.pendingName] = round.pendingValue;
}

// Every own name holds its last value in exactly one row; the shared name has
// one row with one of the values given to it; nothing else is stored.
void checkFinal(const Rows& rows, const Expected& expected) {
  Values last = expected.last;
  checkRows(rows, &last);
  if (!expected.sharedValues.empty()) {
    auto it = rows.find(kSharedName);
    ASSERT_NE(it, rows.end());
    ASSERT_EQ(it->second.size(), 1u) << "the shared name has several rows";
    EXPECT_EQ(expected.sharedValues.count(it->second[0]), 1u)
        << "the shared name holds a value nobody stored: " << it->second[0];
  }
  EXPECT_EQ(rows.size(), expected.last.size() + (expected.sharedValues.empty() ? 0 : 1));
}

// The child roles.

DataSource storeOf(const std::string& name) {
  return name == "registry" ? RegistryDataSource : SQLiteDataSource;
}

// writer <id> <writes> <own names> <store>: its own names, every fourth write
// the shared name, through a KestInfo record made anew every 50 writes (so
// that fresh records read the table meanwhile); gives the W and T lines.
std::string writeSeries(int id, int writes, int ownNames, DataSource store) {
  std::string out;
  std::unique_ptr<KestInfo> record;
  double slowest = 0;
  for (int k = 1; k <= writes; ++k) {
    if (!record || k % 50 == 0) record.reset(new KestInfo(store));
    const std::string name = k % 4 == 0 ? std::string(kSharedName) : ownName(id, k % ownNames);
    const std::string value = valueOf(id, k);
    const double start = nowMs();
    const int rc = record->setValueString(name.c_str(), value.c_str());
    slowest = std::max(slowest, nowMs() - start);
    out += "W " + name + " " + value + " " + std::to_string(rc) + "\n";
  }
  return out + "T " + std::to_string(static_cast<long long>(slowest)) + "\n";
}

// reader <store> <stop file> [values file]: reads the whole record through a
// new record until the stop file appears, and checks the values file given.
int reader(int argc, char** argv) {
  const std::string stopFile = argv[1], valuesFile = argc > 2 ? argv[2] : "";
  SequenceCheck check;
  long long reads = 0, tornFiles = 0;
  do {
    KestInfo record(storeOf(argv[0]));
    ::NameValueMap* map = record.getIKestBase() ? record.getIKestBase()->NameValueMap() : nullptr;
    if (map) check.look(*map);
    ++reads;
    std::vector<pda::platform::RegValue> parsed;
    tornFiles += !valuesFile.empty() && pda::platform::readValuesFile(valuesFile, &parsed) ==
                                            pda::platform::ValuesReadResult::garbage;
  } while (::access(stopFile.c_str(), F_OK) != 0);
  std::printf("R %lld %lld %lld %lld\n", reads, check.regressions, check.malformed, tornFiles);
  return 0;
}

// kill-writer <store> <names> <first sequence>: writes the names round and
// round with rising sequences until it is killed; each line goes out
// unbuffered, so that what a killed writer said is exactly what it did.
int killWriter(char** argv) {
  KestInfo record(storeOf(argv[0]));
  const int names = std::atoi(argv[1]);
  for (int sequence = std::atoi(argv[2]);;) {
    for (int i = 0; i < names; ++i, ++sequence) {
      const std::string name = ownName(0, i), value = valueOf(0, sequence);
      ::dprintf(STDOUT_FILENO, "B %s %s\n", name.c_str(), value.c_str());
      ::dprintf(STDOUT_FILENO, "E %d\n", record.setValueString(name.c_str(), value.c_str()));
    }
  }
}

// probe <store>: one read of the whole record, as a program that starts after
// a crash (or while others write) makes it.
int probe(char** argv) {
  KestInfo record(storeOf(argv[0]));
  ::NameValueMap* map = record.getIKestBase() ? record.getIKestBase()->NameValueMap() : nullptr;
  if (!map) return 3;
  std::string out;
  for (const auto& entry : *map) out += "V " + entry.first + " " + entry.second + "\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}

// first-use: eight threads add three chassis each while files may not grow
// past 10,000 bytes (every creation of the remote PXI database fails), then
// again with the limit as it was.
int firstUse() {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlim_t was = limit.rlim_cur;
  std::string out;
  std::mutex outMutex;
  for (int phase = 0; phase < 2; ++phase) {
    limit.rlim_cur = phase == 0 ? 10000 : was;
    setrlimit(RLIMIT_FSIZE, &limit);
    pdatest::together(8, [&](int t) {
      for (int i = 0; i < 3; ++i) {
        ChassisInfo info = {};
        std::snprintf(info.ChassisSN, sizeof info.ChassisSN, "P%dT%dN%d", phase, t, i);
        std::snprintf(info.Vendor, sizeof info.Vendor, "V");
        const int rc = BasaltDataEngine().addChassis(info);
        std::lock_guard<std::mutex> guard(outMutex);
        out += std::string(rc == 0 ? "ok " : "no ") + info.ChassisSN + "\n";
      }
    });
  }
  std::fputs(out.c_str(), stdout);
  return 0;
}

int runChild(int argc, char** argv) {  // argv: program, "--child", role, arguments...
  const std::string role = argc > 2 ? argv[2] : "";
  const int n = argc - 3;
  char** args = argv + 3;
  if (role == "writer" && n >= 4)
    return std::fputs(writeSeries(std::atoi(args[0]), std::atoi(args[1]), std::atoi(args[2]),
                                  storeOf(args[3]))
                          .c_str(),
                      stdout) < 0;
  if (role == "reader" && n >= 2) return reader(n, args);
  if (role == "kill-writer" && n >= 3) return killWriter(args);
  if (role == "probe" && n >= 1) return probe(args);
  if (role == "first-use") return firstUse();
  std::fprintf(stderr, "unknown child role or missing arguments: %s\n", role.c_str());
  return 2;
}

// The scenarios' own helpers.

// Eight writer processes (each its own names and the shared one) while two
// reader processes read the whole record over and over; the registry's
// readers also check that the values file is whole at every look.
Expected writeWhileTwoRead(const pdatest::TempMachine& machine, const std::string& store,
                           Counts* counts) {
  const int writes = scaled(24, 500);
  const std::string stop = machine.path("stop-readers");
  std::vector<std::string> readerArgs = {store, stop};
  if (store == "registry") readerArgs.push_back(valuesFileOf(machine));
  std::vector<Child> readers, children;
  for (int i = 0; i < 2; ++i) readers.push_back(spawn("reader", readerArgs));
  for (int i = 0; i < 8; ++i)
    children.push_back(
        spawn("writer", {std::to_string(i + 1), std::to_string(writes), "10", store}));
  Expected expected;
  for (Child& child : children) {
    const long long before = expected.writes;
    expected.addOutput(readAll(child.out));
    EXPECT_EQ(waitExit(child.pid), 0);
    EXPECT_EQ(expected.writes - before, writes) << "a writer stopped early";
  }
  std::ofstream(stop) << "stop";
  long long reads = 0;
  for (Child& child : readers) {
    const auto r = tagged(readAll(child.out), "R");
    EXPECT_EQ(waitExit(child.pid), 0);
    EXPECT_EQ(r.size(), 1u) << "a reader gave no counts";
    if (r.size() != 1) continue;
    EXPECT_GT(std::atoll(r[0].at(1).c_str()), 0);
    EXPECT_EQ(r[0].at(2), "0") << "a reader saw a value go back to an older one";
    EXPECT_EQ(r[0].at(3), "0") << "a reader saw a value nobody wrote";
    EXPECT_EQ(r[0].at(4), "0") << "a reader found a torn values file";
    reads += std::atoll(r[0][1].c_str());
  }
  EXPECT_EQ(expected.failures, 0) << "a write returned 0";
  *counts = {{"writes", expected.writes}, {"reads", reads}};
  return expected;
}

// What a new program reads through the library after a crash.
Rows probeRows(const std::string& store) {
  Child child = spawn("probe", {store});
  Rows seen;
  for (const auto& w : tagged(readAll(child.out), "V"))
    if (w.size() == 3) seen[w[1]] = {w[2]};
  EXPECT_EQ(waitExit(child.pid), 0);
  return seen;
}

// Rounds of a writer of eight names killed at random moments: mostly while it
// writes (after its first output, within maxMs), now and then while it starts;
// after each, check(round, kill) looks at what is stored.
template <typename Check>
void killRounds(const std::string& store, unsigned maxMs, Values* confirmed, Check check) {
  const int kills = scaled(10, 50);
  int sequence = 1;
  long long midWrite = 0, failures = 0;
  for (int kill = 0; kill < kills && !::testing::Test::HasFatalFailure(); ++kill) {
    Child child = spawn("kill-writer", {store, "8", std::to_string(sequence)});
    std::string output = randomBelow(10) != 0 ? readSome(child.out) : "";
    ::usleep(1000u * randomBelow(maxMs));
    ::kill(child.pid, SIGKILL);
    output += readAll(child.out);
    ASSERT_EQ(waitExit(child.pid), 128 + SIGKILL) << "the writer ended on its own:\n" << output;
    // The confirmed writes go to confirmed; the write it died in is pending.
    const auto begun = tagged(output, "B"), ends = tagged(output, "E");
    for (std::size_t i = 0; i < ends.size() && i < begun.size(); ++i) {
      if (ends[i].at(1) == "1")
        (*confirmed)[begun[i].at(1)] = begun[i].at(2);
      else
        ++failures;
    }
    sequence += static_cast<int>(begun.size()) + 1;
    KillRound round;
    if (ends.size() < begun.size()) round = {begun.back().at(1), begun.back().at(2)};
    midWrite += !round.pendingName.empty();
    check(round, kill);
  }
  EXPECT_EQ(failures, 0) << "a write returned 0 with no other writer about";
  report(store + "-kill", {{"kills", kills}, {"killedMidWrite", midWrite}});
}

}  // namespace

// Processes write one database while two read: nothing lost, the file whole;
// writes report nothing, and reads only a query that stayed busy for its 100
// attempts (readers meet a committing writer's lock and get no retry beyond
// those): counted, not a failure.
TEST(SQLiteStress, ProcessesWriteOneDatabaseWhileTwoRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  Counts counts;
  const Expected expected = writeWhileTwoRead(machine, "sqlite", &counts);
  checkFinal(tableRows(db), expected);
  EXPECT_EQ(integrityCheck(db), "ok\n");
  EXPECT_EQ(events("WARNING", {"setValueString", "deleteName", "getBeginStmt", "getCommitStmt",
                               "getRollbackStmt", "tryStep: SetValueString",
                               "tryStep: setValueString", "tryStep: deleteName"}),
            "");
  const std::string readErrors = events(
      "ERROR",
      {"readTableDataIntoNameValueMap", "rollBackHotJournal", "tryStep: rollBackHotJournal"});
  EXPECT_EQ(events("ERROR"), readErrors) << "errors from something other than a read";
  counts.push_back({"readErrors", std::count(readErrors.begin(), readErrors.end(), '\n')});
  report("sqlite-processes", counts);
}

// The same on one registry key.
TEST(RegistryStress, ProcessesWriteOneKeyWhileTwoRead) {
  pdatest::TempMachine machine;
  machine.installSuite();
  Counts counts;
  const Expected expected = writeWhileTwoRead(machine, "registry", &counts);
  ASSERT_FALSE(expected.sharedValues.empty());
  checkFinal(keyValues(machine), expected);
  report("registry-processes", counts);
}

// Threads share the process's connections: the write transactions of the
// records must not interleave on the one read-write connection, and readers
// on further threads use the one read-only connection meanwhile.
TEST(SQLiteStress, ThreadsOfOneProcessWriteAtOnce) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  const int threads = 8, writes = scaled(100, 500);
  std::atomic<int> writing{threads};
  std::atomic<long long> reads{0}, regressions{0}, malformed{0};
  Expected expected;
  std::mutex expectedMutex;
  pdatest::together(threads + 2, [&](int t) {
    if (t < threads) {
      const std::string out = writeSeries(100 + t, writes, 10, SQLiteDataSource);
      std::lock_guard<std::mutex> guard(expectedMutex);
      expected.addOutput(out);
      --writing;
      return;
    }
    SequenceCheck check;  // two readers, until the last writer ends
    do {
      KestInfo record(SQLiteDataSource);
      check.look(*record.getIKestBase()->NameValueMap());
      ++reads;
    } while (writing.load() > 0);
    regressions += check.regressions;
    malformed += check.malformed;
  });
  EXPECT_EQ(expected.failures, 0) << "a write returned 0";
  EXPECT_EQ(regressions.load(), 0);
  EXPECT_EQ(malformed.load(), 0);
  checkFinal(tableRows(db), expected);
  EXPECT_EQ(integrityCheck(db), "ok\n");
  // A transaction begun inside another's, or rolled back under it, is reported.
  EXPECT_EQ(events("ERROR") + events("WARNING"), "");
  report("sqlite-threads", {{"writes", expected.writes}, {"reads", reads.load()}});
}

// A writer killed at random moments, often inside a transaction: the next
// program to start (reading first, also when a hot journal is left that only
// a connection with write access can roll back) finds the database intact and
// every name in one row holding its old value or the one being written.
TEST(SQLiteStress, WriterKilledAtRandomMomentsLeavesEveryValueWhole) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  std::string seed;
  Values confirmed;
  for (int i = 0; i < 8; ++i) {
    confirmed[ownName(0, i)] = valueOf(0, 0);
    seed += "INSERT INTO KestInfo VALUES(NULL, " + pdatest::sqlQuote(ownName(0, i)) + ", " +
            pdatest::sqlQuote(valueOf(0, 0)) + ");\n";
  }
  pdatest::sqlite(db, seed);
  killRounds("sqlite", 150, &confirmed, [&](const KillRound& round, int kill) {
    checkRows(probeRows("sqlite"), &confirmed, round, kill);
    ASSERT_EQ(integrityCheck(db), "ok\n") << "after kill " << kill;
    const Rows rows = tableRows(db);
    ASSERT_EQ(rows.size(), 8u);
    checkRows(rows, &confirmed, round, kill);
  });
}

// The same on the registry: the values file, then a new program reading
// through the library.
TEST(RegistryStress, WriterKilledMidWriteLosesNothing) {
  pdatest::TempMachine machine;
  machine.installSuite();
  Values confirmed;
  killRounds("registry", 40, &confirmed, [&](const KillRound& round, int kill) {
    checkRows(keyValues(machine, confirmed.empty()), &confirmed, round, kill);
    checkRows(probeRows("registry"), &confirmed, KillRound(), kill);
  });
}

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
  EXPECT_EQ(events("ERROR"), "");
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(staleReads.load(), 0) << "a write was not read back by a new record";
  Expected expected;  // what the node holds
  for (int t = 0; t < threads; ++t)
    for (int i = 0; i < 5; ++i) {
      char held[256];
      node->getValueString(ownName(t, i).c_str(), held, sizeof held, "");
      expected.last[ownName(t, i)] = held;
    }
  checkFinal(tableRows(db), expected);
  report("sharing-one-node", {{"writes", threads * writes}, {"failures", failures.load()}});
}

// Rounds of a fresh process's first use of the remote PXI database by many
// threads, whose creations at first all fail: no addition that reported
// success is missing from the file, none that failed is half there, and every
// one succeeds once files may grow.
TEST(SharingStress, FirstUseOfTheRemotePxiDatabaseWithAFailedCreation) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.pxiDir() + "RemotePXI.db";
  const int rounds = scaled(2, 20);
  long long added = 0, refused = 0, missing = 0;
  for (int r = 0; r < rounds; ++r) {
    std::remove(db.c_str());
    Child child = spawn("first-use", {});
    const std::string out = readAll(child.out);
    EXPECT_EQ(waitExit(child.pid), 0);
    const std::vector<std::string> inFile =
        lines(pdatest::sqlite(db, "SELECT DISTINCT IDKEY FROM Chassis WHERE NAME = 'RecordType';"));
    for (const auto& w : tagged(out, "ok")) {
      ++added;
      missing += std::find(inFile.begin(), inFile.end(), w.at(1)) == inFile.end();
    }
    refused += static_cast<long long>(tagged(out, "no").size());
    EXPECT_EQ(integrityCheck(db), "ok\n");
  }
  EXPECT_EQ(missing, 0) << "an addition reported success and is not in the file";
  EXPECT_EQ(refused, rounds * 8 * 3) << "an addition failed once files could grow";
  EXPECT_EQ(added, rounds * 8 * 3);
  report("sharing-pxi-first-use", {{"added", added}, {"refused", refused}});
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
  while ((ended < writers.size() || readers < scaled(20, 200)) && nowMs() - start < 300000) {
    Child started = spawn("probe", {"sqlite"});
    const std::string seen = "\n" + readAll(started.out);
    defaults += waitExit(started.pid) != 0 || seen.find("\nV Stored yes\n") == std::string::npos;
    ++readers;
    for (std::size_t i = 0; i < writers.size(); ++i) {
      int status = 0;
      if (exits[i] < 0 && waitpid(writers[i].pid, &status, WNOHANG) == writers[i].pid) {
        exits[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        ++ended;
      }
    }
  }
  Expected written;
  for (std::size_t i = 0; i < writers.size(); ++i) {
    written.addOutput(readAll(writers[i].out));
    EXPECT_EQ(exits[i] < 0 ? waitExit(writers[i].pid) : exits[i], 0);
  }
  EXPECT_EQ(defaults, 0) << "a program read the default of a stored setting";
  report("sharing-readers-during-writers",
         {{"readers", readers}, {"defaults", defaults}, {"writeFailures", written.failures}});
}

// A writer stopped (SIGSTOP) in the middle of a write holds the database's
// locks until it goes on: the other writers' calls end within their bound
// (they fail while the stopped one holds the write lock).
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
    others.push_back(
        spawn("writer", {std::to_string(i + 1), std::to_string(scaled(3, 20)), "10", "sqlite"}));
  Expected written;
  long long slowest = 0;
  for (Child& w : others) {
    const std::string out = readAll(w.out);
    EXPECT_EQ(waitExit(w.pid), 0);
    written.addOutput(out);
    ASSERT_EQ(tagged(out, "T").size(), 1u) << out;
    slowest = std::max(slowest, std::atoll(tagged(out, "T")[0].at(1).c_str()));
  }
  kill(stopped.pid, SIGKILL);
  waitExit(stopped.pid);
  // The bound: a second for the writers' file lock, then a second of BEGIN
  // retries; generous for a loaded machine, far from "for ever".
  EXPECT_LT(slowest, 6000) << "a write waited for the stopped writer";
  EXPECT_EQ(integrityCheck(db), "ok\n");
  report("sharing-stopped-writer",
         {{"writes", written.writes}, {"failures", written.failures}, {"slowestMs", slowest}});
}

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return runChild(argc, argv);
  for (int i = 1; i < argc; ++i) longForm = longForm || std::strcmp(argv[i], "--long") == 0;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

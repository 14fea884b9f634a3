// The child roles of the stress program: writers and readers that use the
// library as a separate program of the suite would, each in a process of its
// own. Every role writes what it did to its standard output, one line per
// fact, for the parent to check:
//   W <name> <value> <result>     a write and the setter's result
//   B <name> <value>              a write about to start (kill scenarios)
//   E <result>                    the end of that write
//   R <count name>=<n> ...        a reader's counts
//   V <name> <value>              a value that a probe read
//   T <writes> <failures> <ms>    a timed writer's slowest write
// Names and values never hold blanks.

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "StressSupport.h"
#include "platform/posix/ValuesFile.h"

namespace stress {

namespace {

DataSource storeOf(const std::string& name) {
  return name == "registry" ? RegistryDataSource : SQLiteDataSource;
}

// Unbuffered, so that what a killed writer said is exactly what it did.
void say(const std::string& line) {
  const std::string text = line + "\n";
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// writer <id> <writes> <own names> <store>: writes of its own names, every
// fourth write to the shared name, through one KestInfo record that is made
// anew every 50 writes (so that fresh records read the table meanwhile).
int writer(char** argv) {
  const int id = std::atoi(argv[0]), writes = std::atoi(argv[1]), ownNames = std::atoi(argv[2]);
  std::string out;
  std::unique_ptr<KestInfo> record;
  for (int k = 1; k <= writes; ++k) {
    if (!record || k % 50 == 0) record.reset(new KestInfo(storeOf(argv[3])));
    const std::string name = k % 4 == 0 ? std::string(kSharedName) : ownName(id, k % ownNames);
    const std::string value = valueOf(id, k);
    const int rc = record->setValueString(name.c_str(), value.c_str());
    out += "W " + name + " " + value + " " + std::to_string(rc) + "\n";
  }
  std::fputs(out.c_str(), stdout);
  return 0;
}

// reader <store> <stop file> [values file]: reads the whole record through a
// new KestInfo record until the stop file appears, watching the sequences,
// and, when given the registry key's values file, that it is whole at every
// look.
int reader(int argc, char** argv) {
  const std::string stopFile = argv[1], valuesFile = argc > 2 ? argv[2] : "";
  SequenceCheck check;
  long long reads = 0, placeholders = 0, fileLooks = 0, tornFiles = 0;
  do {
    KestInfo record(storeOf(argv[0]));
    ::NameValueMap* map = record.getIKestBase() ? record.getIKestBase()->NameValueMap() : nullptr;
    ++reads;
    if (map) {
      placeholders += map->count("FAKENAME***");
      check.look(*map);
    }
    if (!valuesFile.empty()) {
      std::vector<pda::platform::RegValue> parsed;
      ++fileLooks;
      tornFiles += pda::platform::readValuesFile(valuesFile, &parsed) ==
                   pda::platform::ValuesReadResult::garbage;
    }
  } while (::access(stopFile.c_str(), F_OK) != 0);
  std::printf(
      "R reads=%lld values=%lld placeholders=%lld regressions=%lld malformed=%lld "
      "fileLooks=%lld tornFiles=%lld\n",
      reads, check.values, placeholders, check.regressions, check.malformed, fileLooks, tornFiles);
  return 0;
}

// kill-writer <store> <names> <first sequence>: writes the names round and
// round with rising sequences until it is killed, saying before each write
// what it is about to write and after it what the setter returned.
int killWriter(char** argv) {
  KestInfo record(storeOf(argv[0]));
  const int names = std::atoi(argv[1]);
  for (int sequence = std::atoi(argv[2]);;) {
    for (int i = 0; i < names; ++i, ++sequence) {
      const std::string name = ownName(0, i), value = valueOf(0, sequence);
      say("B " + name + " " + value);
      say("E " + std::to_string(record.setValueString(name.c_str(), value.c_str())));
    }
  }
}

// timed-writer <id> <writes>: writes like a writer and reports its slowest
// write.
int timedWriter(char** argv) {
  const int id = std::atoi(argv[0]), writes = std::atoi(argv[1]);
  KestInfo record(SQLiteDataSource);
  int failures = 0;
  double slowest = 0;
  for (int k = 1; k <= writes; ++k) {
    const double start = nowMs();
    failures += record.setValueString(ownName(id, k % 10).c_str(), valueOf(id, k).c_str()) != 1;
    slowest = std::max(slowest, nowMs() - start);
  }
  std::printf("T %d %d %.0f\n", writes, failures, slowest);
  return 0;
}

// read-stored <name> <value>: a program that starts, reads one stored setting
// and ends: 0 when it read the stored value, 1 when it got the default.
int readStored(char** argv) {
  KestInfo record(SQLiteDataSource);
  char value[256];
  record.getIKestBase()->getValueString(argv[0], value, sizeof value, "<default>");
  return std::strcmp(value, argv[1]) == 0 ? 0 : 1;
}

// probe <store>: one read of the whole record by a fresh process, as a program
// that starts after a crash would make it; prints every value.
int probe(char** argv) {
  KestInfo record(storeOf(argv[0]));
  ::NameValueMap* map = record.getIKestBase() ? record.getIKestBase()->NameValueMap() : nullptr;
  if (!map) return 3;
  std::string out;
  for (const auto& entry : *map) out += "V " + entry.first + " " + entry.second + "\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}

}  // namespace

int runChild(int argc, char** argv) {
  // argv: program, "--child", role, arguments...
  const std::string role = argc > 2 ? argv[2] : "";
  const int n = argc - 3;
  char** args = argv + 3;
  if (role == "writer" && n >= 4) return writer(args);
  if (role == "reader" && n >= 2) return reader(n, args);
  if (role == "kill-writer" && n >= 3) return killWriter(args);
  if (role == "probe" && n >= 1) return probe(args);
  if (role == "timed-writer" && n >= 2) return timedWriter(args);
  if (role == "read-stored" && n >= 2) return readStored(args);
  std::fprintf(stderr, "unknown child role or missing arguments: %s\n", role.c_str());
  return 2;
}

}  // namespace stress

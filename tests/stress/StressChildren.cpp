// The child roles of the stress program: writers and readers that use the
// library as a separate program of the suite would, each in a process of its
// own, and the writer that the kill scenarios end with SIGKILL.
//
// Every role writes what it did to its standard output, one line per fact,
// for the parent to check:
//   W <name> <value> <result>     a write and the setter's result
//   B <name> <value>              a write about to start (kill scenarios)
//   E <result>                    the end of that write
//   R <count name>=<n> ...        a reader's counts
//   V <name> <value>              a value that a probe read
// Names and values never hold blanks.

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "StressSupport.h"
#include "pda/KestInfo.h"
#include "platform/posix/ValuesFile.h"

namespace stress {

namespace {

DataSource storeOf(const std::string& name) {
  return name == "registry" ? RegistryDataSource : SQLiteDataSource;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Unbuffered, so that what a killed writer said is exactly what it did.
void say(const std::string& line) {
  std::string text = line + "\n";
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

// writer <id> <writes> <own names> <store>: writes of its own names, every
// fourth write to the shared name, through one KestInfo record that is made
// anew every 50 writes (so that fresh records read the table meanwhile).
int writer(int argc, char** argv) {
  if (argc < 4) return 2;
  const int id = std::atoi(argv[0]);
  const int writes = std::atoi(argv[1]);
  const int ownNames = std::atoi(argv[2]);
  const DataSource store = storeOf(argv[3]);
  std::string out;
  std::unique_ptr<KestInfo> record;
  for (int k = 1; k <= writes; ++k) {
    if (!record || k % 50 == 0) record.reset(new KestInfo(store));
    const std::string name = k % 4 == 0 ? std::string(kSharedName) : ownName(id, k % ownNames);
    const std::string value = valueOf(id, k);
    const int rc = record->setValueString(name.c_str(), value.c_str());
    out += "W " + name + " " + value + " " + std::to_string(rc) + "\n";
  }
  std::fputs(out.c_str(), stdout);
  return 0;
}

// reader <store> <stop file> [values file]: reads the whole record through a
// new KestInfo record until the stop file appears. Checks that no own name
// of a writer ever goes back to an older value (each writer writes its names
// in increasing sequence, so a committed state never shows an older one), and,
// when given the registry key's values file, that the file is whole at every
// look.
int reader(int argc, char** argv) {
  if (argc < 2) return 2;
  const DataSource store = storeOf(argv[0]);
  const std::string stopFile = argv[1];
  const std::string valuesFile = argc > 2 ? argv[2] : "";
  std::map<std::string, int> newest;
  long long reads = 0, values = 0, placeholders = 0, regressions = 0, malformed = 0;
  long long fileLooks = 0, tornFiles = 0;
  do {
    KestInfo record(store);
    ::NameValueMap* map = record.getIKestBase() ? record.getIKestBase()->NameValueMap() : nullptr;
    ++reads;
    if (map) {
      if (map->count("FAKENAME***")) ++placeholders;
      for (const auto& entry : *map) {
        if (entry.first.compare(0, 6, "Writer") != 0 && entry.first != kSharedName) continue;
        ++values;
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
    }
    if (!valuesFile.empty()) {
      std::vector<pda::platform::RegValue> parsed;
      ++fileLooks;
      if (pda::platform::readValuesFile(valuesFile, &parsed) ==
          pda::platform::ValuesReadResult::garbage)
        ++tornFiles;
    }
  } while (!exists(stopFile));
  std::printf(
      "R reads=%lld values=%lld placeholders=%lld regressions=%lld malformed=%lld "
      "fileLooks=%lld tornFiles=%lld\n",
      reads, values, placeholders, regressions, malformed, fileLooks, tornFiles);
  return 0;
}

// kill-writer <store> <names> <first sequence>: writes the names round and
// round with rising sequences until it is killed, saying before each write
// what it is about to write and after it what the setter returned.
int killWriter(int argc, char** argv) {
  if (argc < 3) return 2;
  const DataSource store = storeOf(argv[0]);
  const int names = std::atoi(argv[1]);
  int sequence = std::atoi(argv[2]);
  KestInfo record(store);
  for (;;) {
    for (int i = 0; i < names; ++i, ++sequence) {
      const std::string name = ownName(0, i);
      const std::string value = valueOf(0, sequence);
      say("B " + name + " " + value);
      const int rc = record.setValueString(name.c_str(), value.c_str());
      say("E " + std::to_string(rc));
    }
  }
}

// probe <store>: one read of the whole record by a fresh process, as a program
// that starts after a crash would make it; prints every value.
// Writes like a writer and reports how long its slowest write took: "T
// <writes> <failures> <slowest ms>".
int timedWriter(int argc, char** argv) {
  if (argc < 2) return 2;
  const int id = std::atoi(argv[0]);
  const int writes = std::atoi(argv[1]);
  KestInfo record(SQLiteDataSource);
  int failures = 0;
  double slowest = 0;
  for (int k = 1; k <= writes; ++k) {
    const double start = nowMs();
    failures += record.setValueString(ownName(id, k % 10).c_str(), valueOf(id, k).c_str()) != 1;
    const double took = nowMs() - start;
    if (took > slowest) slowest = took;
  }
  std::printf("T %d %d %.0f\n", writes, failures, slowest);
  return 0;
}

// A program that starts, reads one stored setting and ends: 0 when it read
// the stored value, 1 when it got the default.
int readStored(int argc, char** argv) {
  if (argc < 2) return 2;
  KestInfo record(SQLiteDataSource);
  char value[256];
  record.getIKestBase()->getValueString(argv[0], value, sizeof value, "<default>");
  return std::strcmp(value, argv[1]) == 0 ? 0 : 1;
}

int probe(int argc, char** argv) {
  if (argc < 1) return 2;
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
  if (argc < 3) return 2;
  const std::string role = argv[2];
  if (role == "writer") return writer(argc - 3, argv + 3);
  if (role == "reader") return reader(argc - 3, argv + 3);
  if (role == "kill-writer") return killWriter(argc - 3, argv + 3);
  if (role == "probe") return probe(argc - 3, argv + 3);
  if (role == "timed-writer") return timedWriter(argc - 3, argv + 3);
  if (role == "read-stored") return readStored(argc - 3, argv + 3);
  std::fprintf(stderr, "unknown child role %s\n", role.c_str());
  return 2;
}

}  // namespace stress

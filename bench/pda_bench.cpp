// The library against its baselines, side by side in one run on the same
// files: each measure runs a library benchmark and its baseline, repeated,
// in random interleaved order, and compares their medians. Ends with the
// result table (Markdown) and exits with 0 when every target was met, 1 when
// one was missed, 2 when the run failed.
//
// Clocks: the in-memory and in-page-cache measures (1 to 3) are compared on
// the process's CPU time, which the other work on a shared machine does not
// inflate; the measures that wait for the disk (the write's flush, the
// registry's files) on wall-clock time, since the waiting is the cost.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Allocations.h"
#include "BenchData.h"
#include "Report.h"
#include "SuiteSchema.h"
#include "pda/KestConfig.h"
#include "pda/KestInfo.h"
#include "pda/KestSQLite.h"

using namespace pdabench;

namespace {

// The two sizes of the configuration (measure 3) and the one of the memory
// measure (6); the settings table (measures 1, 2, 4); the registry tree (5).
const std::size_t kSmallConfig = 2000;
const std::size_t kLargeConfig = 20000;
// Both configurations again, in databases with the covering index that
// `pda init` creates (and `pda doctor --fix` adds); the statement is the same.
const std::size_t kIndexedSmallConfig = kSmallConfig + 1;
const std::size_t kIndexedLargeConfig = kLargeConfig + 1;

// The records of a configuration data set.
std::size_t recordsIn(std::size_t set) {
  return set == kIndexedSmallConfig   ? kSmallConfig
         : set == kIndexedLargeConfig ? kLargeConfig
                                      : set;
}
const std::size_t kSettingsRows = 1000;
const int kRegistryInterfaces = 100;
const int kRegistryDevices = 20;

// Everything the benchmarks share. The store always reads "Quillon.db" in the
// data folder, so the two configuration sizes live in two files, and the one
// a benchmark needs is renamed into place (with every connection closed
// first) before the benchmark's timed loop starts. Both files hold the same
// settings table.
struct Context {
  std::unique_ptr<Machine> machine;
  std::unique_ptr<RawSQLite> sqlite;
  sqlite3* readDb = nullptr;   // the baselines' read-only connection
  sqlite3* writeDb = nullptr;  // the baselines' read-write connection
  std::size_t activeRecords = 0;
  std::map<std::size_t, std::string> parked;  // records -> file not in use
  std::vector<std::string> registryFiles;

  void openConnections() {
    readDb = sqlite->open(machine->configDb(), RawSQLite::kOpenReadOnly);
    writeDb = sqlite->open(machine->configDb(), RawSQLite::kOpenReadWrite);
  }
  void closeConnections() {
    sqlite->close(readDb);
    sqlite->close(writeDb);
    readDb = writeDb = nullptr;
  }
};

Context* g = nullptr;

void useConfig(std::size_t records) {
  if (g->activeRecords == records) return;
  KestSQLite::closeAllDatabaseConnections();
  g->closeConnections();
  const std::string active = g->machine->configDb();
  const std::string parked =
      g->machine->dataDir() + "bench-" + std::to_string(g->activeRecords) + ".db";
  std::filesystem::rename(active, parked);
  std::filesystem::rename(g->parked.at(records), active);
  g->parked.erase(records);
  g->parked[g->activeRecords] = parked;
  g->activeRecords = records;
  g->openConnections();
}

double cpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Reads one value of every interface and device below root, so that every
// node of the tree has read its key.
std::size_t walkRegistryTree(IKestBase* root, std::size_t* devices) {
  std::size_t interfaces = 0;
  char buffer[256];
  for (auto& intf : *root->SubKeyMap()) {
    if (!intf.second) continue;
    ++interfaces;
    intf.second->getValueString("Label", buffer, sizeof buffer, "");
    for (auto& device : *intf.second->SubKeyMap()) {
      if (!device.second) continue;
      ++*devices;
      device.second->getValueString("Model", buffer, sizeof buffer, "");
    }
  }
  return interfaces;
}

// ---------------------------------------------------------------------------
// 1: getters on a filled tree

enum class Getter { int32, boolean, string };

void getterLibrary(benchmark::State& state, Getter kind) {
  KestInfo info(SQLiteDataSource);
  NameValueMap check;
  rawReadTable(*g->sqlite, g->readDb, "KestInfo", &check);
  // Fills the tree, and checks that the library answers what the map does.
  char buffer[64], expected[64];
  info.getDmcLoggingLevel(buffer, sizeof buffer);
  mapGetString(check, "DmcLoggingLevel", expected, sizeof expected, "OFF");
  if (info.getInstallLevel() != mapGetInt32(check, "InstallLevel", 256) ||
      info.getHiddenMode() != mapGetBool(check, "IOControlHidden", 0) ||
      std::string(buffer) != expected) {
    state.SkipWithError("the library and the map disagree");
    return;
  }
  switch (kind) {
    case Getter::int32:
      for (auto _ : state) benchmark::DoNotOptimize(info.getInstallLevel());
      break;
    case Getter::boolean:
      for (auto _ : state) benchmark::DoNotOptimize(info.getHiddenMode());
      break;
    case Getter::string:
      for (auto _ : state) {
        info.getDmcLoggingLevel(buffer, sizeof buffer);
        benchmark::DoNotOptimize(buffer[0]);
      }
      break;
  }
}

void getterBaseline(benchmark::State& state, Getter kind) {
  NameValueMap map;
  rawReadTable(*g->sqlite, g->readDb, "KestInfo", &map);
  char buffer[64];
  switch (kind) {
    case Getter::int32:
      for (auto _ : state) benchmark::DoNotOptimize(mapGetInt32(map, "InstallLevel", 256));
      break;
    case Getter::boolean:
      for (auto _ : state) benchmark::DoNotOptimize(mapGetBool(map, "IOControlHidden", 0));
      break;
    case Getter::string:
      for (auto _ : state) {
        mapGetString(map, "DmcLoggingLevel", buffer, sizeof buffer, "OFF");
        benchmark::DoNotOptimize(buffer[0]);
      }
      break;
  }
}

// ---------------------------------------------------------------------------
// 2: first read of a name/value table

void firstReadLibrary(benchmark::State& state) {
  for (auto _ : state) {
    KestInfo info(SQLiteDataSource);
    benchmark::DoNotOptimize(info.getInstallLevel());
  }
}

void firstReadBaseline(benchmark::State& state) {
  for (auto _ : state) {
    NameValueMap map;
    rawReadTable(*g->sqlite, g->readDb, "KestInfo", &map);
    benchmark::DoNotOptimize(mapGetInt32(map, "InstallLevel", 256));
  }
}

// ---------------------------------------------------------------------------
// 3: the configuration tree from "ConfigData"

void configLibrary(benchmark::State& state, std::size_t set) {
  useConfig(set);
  const std::size_t records = recordsIn(set);
  {
    // Untimed: opens the connection, and checks the tree's shape.
    KestConfig config(SQLiteDataSource);
    IKestBase* root = config.kestBase();
    if (!root || root->SubKeyMap()->size() != interfacesIn(records) ||
        nodeCount(root) != records + 1) {
      state.SkipWithError("the configuration tree is not the one written");
      return;
    }
  }
  // Timed: the record built and its tree filled. The teardown is outside the
  // timed part (the raw query has nothing to tear down); its CPU time is
  // reported beside it as the counter "teardown".
  double teardown = 0.0;
  for (auto _ : state) {
    auto config = std::make_unique<KestConfig>(SQLiteDataSource);
    benchmark::DoNotOptimize(config->kestBase()->SubKeyMap()->size());
    state.PauseTiming();
    const double start = cpuSeconds();
    config.reset();
    teardown += cpuSeconds() - start;
    state.ResumeTiming();
  }
  state.counters["teardown"] = benchmark::Counter(teardown, benchmark::Counter::kAvgIterations);
}

void configBaseline(benchmark::State& state, std::size_t set) {
  useConfig(set);
  const std::size_t records = recordsIn(set);
  if (rawQueryConfig(*g->sqlite, g->readDb) != records * 8) {
    state.SkipWithError("the raw query does not see the rows written");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(rawQueryConfig(*g->sqlite, g->readDb));
}

// ---------------------------------------------------------------------------
// 4: one value written through the SQLite store

const char* const kWrittenValues[] = {"DEBUG", "INFO"};

void writeLibrary(benchmark::State& state) {
  KestInfo info(SQLiteDataSource);
  info.getInstallLevel();
  unsigned n = 0;
  for (auto _ : state) {
    if (!info.setValueString("DmcLoggingLevel", kWrittenValues[++n & 1])) {
      state.SkipWithError("the store's write failed");
      break;
    }
  }
}

void writeBaseline(benchmark::State& state) {
  RawWriter writer(*g->sqlite, g->writeDb);
  unsigned n = 0;
  for (auto _ : state) {
    if (!writer.write("KestInfo", "DmcLoggingLevel", kWrittenValues[++n & 1])) {
      state.SkipWithError("the raw write failed");
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// 5: the configuration tree on the registry stand-in

void registryLibrary(benchmark::State& state) {
  {
    // Untimed: the first build writes the interfaces' capability values;
    // every later build finds them written. Also checks the tree's shape.
    KestConfig config(RegistryDataSource);
    std::size_t devices = 0;
    if (!config.kestBase() ||
        walkRegistryTree(config.kestBase(), &devices) !=
            static_cast<std::size_t>(kRegistryInterfaces) ||
        devices != static_cast<std::size_t>(kRegistryInterfaces * kRegistryDevices)) {
      state.SkipWithError("the registry tree is not the one written");
      return;
    }
  }
  for (auto _ : state) {
    KestConfig config(RegistryDataSource);
    std::size_t devices = 0;
    benchmark::DoNotOptimize(walkRegistryTree(config.kestBase(), &devices));
  }
}

void registryBaseline(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(readFiles(g->registryFiles));
}

// ---------------------------------------------------------------------------
// 6: memory of the large tree

struct MemoryFigures {
  long long peak = 0;
  long long retained = 0;
  std::size_t nameValueBytes = 0;
  std::size_t nodes = 0;
  // What the public types alone take for this tree, before a single byte of
  // text: one store node per record, one value map entry per value, one
  // child map entry per node below the root.
  std::size_t typesFloor = 0;
};

// The bytes of the fixed parts of a tree: the nodes themselves and their map
// entries (a red-black tree node of the C++ library holding the pair).
std::size_t typesFloor(const IKestBase* node, bool root) {
  if (!node) return 0;
  std::size_t total =
      sizeof(KestSQLite) + node->rawNameValueMap().size() *
                               (sizeof(std::_Rb_tree_node_base) + sizeof(NameValueMap::value_type));
  if (!root) total += sizeof(std::_Rb_tree_node_base) + sizeof(SubKeyMap::value_type);
  for (const auto& child : node->rawSubKeyMap()) total += typesFloor(child.second, false);
  return total;
}

MemoryFigures measureMemory() {
  useConfig(kLargeConfig);
  {
    KestConfig warm(SQLiteDataSource);
    warm.kestBase()->SubKeyMap();
  }
  MemoryFigures figures;
  AllocationWindow window;
  {
    KestConfig config(SQLiteDataSource);
    IKestBase* root = config.kestBase();
    root->SubKeyMap();
    figures.retained = window.live();
    figures.nameValueBytes = pdabench::nameValueBytes(root);
    figures.nodes = nodeCount(root);
    figures.typesFloor = typesFloor(root, true);
  }
  figures.peak = window.peak();
  return figures;
}

// ---------------------------------------------------------------------------
// Reporting

// Keeps the median of every benchmark for the table, and shows the run as
// the console reporter does.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  MedianCollector(ResultTable& table, std::map<std::string, double>& teardowns)
      : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular),
        _table(table),
        _teardowns(teardowns) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!median && !single) continue;
      const double toNs = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      _table.recordMedian(run.run_name.function_name, run.GetAdjustedCPUTime() * toNs,
                          run.GetAdjustedRealTime() * toNs);
      const auto teardown = run.counters.find("teardown");
      if (teardown != run.counters.end())
        _teardowns[run.run_name.function_name] = teardown->second * 1e9;
    }
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  ResultTable& _table;
  std::map<std::string, double>& _teardowns;  // nanoseconds
};

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(line.find_first_not_of(' ', colon + 1));
    }
  }
  return "unknown";
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

void registerBenchmarks(ResultTable& table) {
  auto timed = [](const std::string& name, auto fn, Clock clock) {
    benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name.c_str(), fn);
    b->MinTime(0.25);
    if (clock == Clock::real) b->UseRealTime();
    return b;
  };
  auto pair = [&](const std::string& id, const std::string& title, const std::string& name,
                  auto library, auto baseline, Clock clock, double target) {
    timed(name + "/library", library, clock);
    timed(name + "/baseline", baseline, clock);
    table.addTimed(id, title, name + "/library", name + "/baseline", clock, target);
  };

  pair(
      "1a", "KestInfo int getter on a filled tree vs map find + conversion", "getter_int",
      [](benchmark::State& s) { getterLibrary(s, Getter::int32); },
      [](benchmark::State& s) { getterBaseline(s, Getter::int32); }, Clock::cpu, 2.0);
  pair(
      "1b", "KestInfo bool getter on a filled tree vs map find + conversion", "getter_bool",
      [](benchmark::State& s) { getterLibrary(s, Getter::boolean); },
      [](benchmark::State& s) { getterBaseline(s, Getter::boolean); }, Clock::cpu, 2.0);
  pair(
      "1c", "KestInfo string getter on a filled tree vs map find + copy", "getter_string",
      [](benchmark::State& s) { getterLibrary(s, Getter::string); },
      [](benchmark::State& s) { getterBaseline(s, Getter::string); }, Clock::cpu, 2.0);
  pair("2", "first read of a 1,000-row table (record built, first getter) vs raw loop into a map",
       "first_read", firstReadLibrary, firstReadBaseline, Clock::cpu, 1.3);
  for (std::size_t records : {kSmallConfig, kLargeConfig}) {
    const std::string n = std::to_string(records);
    pair(
        records == kSmallConfig ? "3a" : "3b",
        "KestConfig tree from ConfigData, " + n + " records, vs raw query of the rows",
        "config_tree_" + n, [records](benchmark::State& s) { configLibrary(s, records); },
        [records](benchmark::State& s) { configBaseline(s, records); }, Clock::cpu, 2.0);
  }
  table.addTimed("3c", "KestConfig tree: 20,000 records vs 2,000 records (library vs library)",
                 "config_tree_20000/library", "config_tree_2000/library", Clock::cpu, 12.0);
  table.addTimed("3d",
                 "the raw query alone: 20,000 records vs 2,000 records (baseline vs baseline)",
                 "config_tree_20000/baseline", "config_tree_2000/baseline", Clock::cpu, 0.0);
  for (std::size_t set : {kIndexedSmallConfig, kIndexedLargeConfig}) {
    const std::string name = "config_tree_indexed_" + std::to_string(recordsIn(set));
    timed(
        name + "/library", [set](benchmark::State& s) { configLibrary(s, set); }, Clock::cpu);
    timed(
        name + "/baseline", [set](benchmark::State& s) { configBaseline(s, set); }, Clock::cpu);
  }
  table.addTimed("3e",
                 "KestConfig tree, 20,000 records: with pda init's index vs without (library vs "
                 "library)",
                 "config_tree_indexed_20000/library", "config_tree_20000/library", Clock::cpu, 0.0);
  table.addTimed("3f",
                 "KestConfig tree on indexed databases: 20,000 records vs 2,000 records (library "
                 "vs library)",
                 "config_tree_indexed_20000/library", "config_tree_indexed_2000/library",
                 Clock::cpu, 0.0);
  table.addTimed("3g",
                 "the raw query on indexed databases: 20,000 records vs 2,000 records (baseline "
                 "vs baseline)",
                 "config_tree_indexed_20000/baseline", "config_tree_indexed_2000/baseline",
                 Clock::cpu, 0.0);
  pair("4",
       "setValueString through the SQLite store vs raw BEGIN IMMEDIATE, DELETE, INSERT, COMMIT",
       "write", writeLibrary, writeBaseline, Clock::real, 1.15);
  pair("5",
       "registry KestConfig tree, 100 interfaces x 20 devices, vs plain reads of its 2,100 files",
       "registry_tree", registryLibrary, registryBaseline, Clock::real, 3.0);
  table.addFigures("6", "peak heap of the 20,000-record tree vs bytes of its names and values",
                   Unit::bytes, 4.0);
}

int run(int argc, char** argv) {
  // Defaults that the caller's own flags (later on the line) override.
  std::vector<char*> args{argv[0]};
  std::string defaults[] = {"--benchmark_repetitions=9",
                            "--benchmark_enable_random_interleaving=true",
                            "--benchmark_report_aggregates_only=true"};
  for (std::string& d : defaults) args.push_back(&d[0]);
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  Context context;
  g = &context;
  std::printf("Preparing the data sets...\n");
  std::fflush(stdout);
  context.machine = std::make_unique<Machine>(PDA_SQLITE_LIBRARY);
  context.sqlite = std::make_unique<RawSQLite>(context.machine->sqliteLibrary());
  const std::vector<Setting> settings = settingsRows(kSettingsRows);
  createConfigDatabase(*context.sqlite, context.machine->configDb(), settings,
                       configRows(kSmallConfig));
  context.activeRecords = kSmallConfig;
  const std::string parked =
      context.machine->dataDir() + "bench-" + std::to_string(kLargeConfig) + ".db";
  createConfigDatabase(*context.sqlite, parked, settings, configRows(kLargeConfig));
  context.parked[kLargeConfig] = parked;
  for (std::size_t set : {kIndexedSmallConfig, kIndexedLargeConfig}) {
    const std::string indexed = context.machine->dataDir() + "bench-" + std::to_string(set) + ".db";
    createConfigDatabase(*context.sqlite, indexed, settings, configRows(recordsIn(set)));
    sqlite3* db = context.sqlite->open(indexed, RawSQLite::kOpenReadWrite);
    context.sqlite->exec(db, pdasuite::kConfigIndex);
    context.sqlite->close(db);
    context.parked[set] = indexed;
  }
  context.registryFiles =
      createRegistryConfig(*context.machine, kRegistryInterfaces, kRegistryDevices);
  context.openConnections();

  ResultTable table;
  registerBenchmarks(table);
  std::map<std::string, double> teardowns;
  MedianCollector reporter(table, teardowns);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const MemoryFigures memory = measureMemory();
  table.setFigures("6", static_cast<double>(memory.peak),
                   static_cast<double>(memory.nameValueBytes));

  std::printf("\nMachine: %u CPUs, %s; load average at the end %s\n",
              std::thread::hardware_concurrency(), cpuModel().c_str(), loadAverage().c_str());
  std::printf(
      "Memory measure: %zu nodes, %s of names and values, %s retained after the build, "
      "%s at the peak; the public types alone take %s (%.2fx) before any text\n",
      memory.nodes, formatBytes(static_cast<double>(memory.nameValueBytes)).c_str(),
      formatBytes(static_cast<double>(memory.retained)).c_str(),
      formatBytes(static_cast<double>(memory.peak)).c_str(),
      formatBytes(static_cast<double>(memory.typesFloor)).c_str(),
      memory.nameValueBytes
          ? static_cast<double>(memory.typesFloor) / static_cast<double>(memory.nameValueBytes)
          : 0.0);
  for (const auto& teardown : teardowns)
    std::printf("Teardown of the tree, outside the timed part of %s: %s CPU (median)\n",
                teardown.first.c_str(), formatNanoseconds(teardown.second).c_str());
  std::printf("\n%s", table.render().c_str());

  KestSQLite::closeAllDatabaseConnections();
  context.closeConnections();
  benchmark::Shutdown();
  return table.allMet() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pda_bench: %s\n", e.what());
    return 2;
  }
}

// pda doctor [--fix] [--json]: checks the installation and every store, one
// line per check, and exits 1 when any check fails.
//
// Decisions:
// - The checks never decide the process-wide store (that would publish it):
//   the switch and the published choice are compared as they are on disk.
// - A database's checks stop at its first failure (a file that is no
//   database has no schema to compare), and the database checks are skipped
//   when the SQLite library cannot be loaded.
// - The expected tables and columns are those `pda init` creates: its
//   statements are run on an in-memory database and compared.
// - --fix repairs only what cannot lose data: it adds the index of the
//   configuration query, rolls back a journal left by a writer that stopped
//   (the stale lock that keeps readers out), and writes a missing or stale
//   published store choice. A damaged values file, a locked or damaged
//   database, an oversized value or a missing installation are named and
//   left to the administrator. After fixing, every check runs again, and
//   the exit status follows the second run.

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include <pda/Win32.h>
#include "Command.h"
#include "Database.h"
#include "PlatformSeam.h"
#include "StoreHealth.h"
#include "SuiteSchema.h"
#include "Table.h"

namespace pdatool {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const char* const kSuiteKey = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kSwitchKey = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";

struct DoctorOptions {
  bool fix = false;
  bool json = false;
};

struct Check {
  std::string name;
  bool ok = true;
  std::string detail;
  std::function<std::string()> fix;  // set when a failure can be repaired; says what it did
};

class Checks {
 public:
  void pass(const std::string& name, const std::string& detail) {
    _list.push_back(Check{name, true, detail, nullptr});
  }
  void fail(const std::string& name, const std::string& detail,
            std::function<std::string()> fix = nullptr) {
    _list.push_back(Check{name, false, detail, std::move(fix)});
  }
  const std::vector<Check>& list() const { return _list; }

 private:
  std::vector<Check> _list;
};

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string fileName(const std::string& path) {
  return fs::path(path).filename().string();
}

// table -> columns, as a database holds them.
std::vector<std::pair<std::string, std::set<std::string>>> schemaOf(Database& db) {
  std::vector<std::pair<std::string, std::set<std::string>>> out;
  for (const Row& table :
       db.query("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    std::set<std::string> columns;
    for (const Row& column : db.query("PRAGMA table_info(" + sqlText(table[0]) + ")"))
      if (column.size() > 1) columns.insert(column[1]);
    out.emplace_back(table[0], columns);
  }
  return out;
}

// "" when db has every table and column that statements create.
std::string missingSchema(const std::string& library, Database& db, const char* const* statements,
                          std::size_t count) {
  Database expected(library, ":memory:", kOpenReadWriteCreate);
  for (std::size_t i = 0; i < count; ++i) expected.execute(statements[i]);
  const auto actual = schemaOf(db);
  std::string missing;
  for (const auto& table : schemaOf(expected)) {
    const std::set<std::string>* have = nullptr;
    for (const auto& t : actual)
      if (t.first == table.first) have = &t.second;
    if (!have) {
      missing += (missing.empty() ? "" : ", ") + std::string("table ") + table.first;
      continue;
    }
    for (const std::string& column : table.second)
      if (!have->count(column))
        missing += (missing.empty() ? "" : ", ") + table.first + "." + column;
  }
  return missing;
}

struct ExpectedDatabase {
  std::string label;
  std::string path;
  bool required;
  const char* const* tables;  // null: no schema to compare
  std::size_t tableCount;
  bool indexed;
};

void checkDatabase(Checks& checks, const std::string& library, const ExpectedDatabase& expected) {
  const std::string name = fileName(expected.path);
  if (!exists(expected.path)) {
    if (expected.required)
      checks.fail(name, expected.path + " does not exist (pda init creates it)");
    else
      checks.pass(name,
                  expected.path + " not created yet (" + expected.label + ", made on first use)");
    return;
  }
  // A journal left beside the database by a writer that stopped: readers
  // without write access cannot roll it back and see the database as busy.
  const std::string journal = expected.path + "-journal";
  std::error_code ec;
  if (exists(journal) && fs::file_size(journal, ec) > 0 && !ec) {
    checks.fail(name + " journal", journal + " was left by a writer that stopped (a stale lock)",
                [library, expected]() {
                  Database db(library, expected.path, kOpenReadWrite);
                  db.query("SELECT count(*) FROM sqlite_master");
                  return "rolled back the journal left beside " + expected.path;
                });
    return;
  }
  std::string problem = databaseReadProblem(library, expected.path);
  if (!problem.empty()) return checks.fail(name + " readable", expected.path + ": " + problem);
  problem = databaseWriteProblem(library, expected.path);
  if (!problem.empty()) return checks.fail(name + " writable", expected.path + ": " + problem);
  try {
    Database db(library, expected.path, kOpenReadOnly);
    const std::vector<Row> integrity = db.query("PRAGMA integrity_check");
    std::string report;
    for (const Row& row : integrity) report += (report.empty() ? "" : "; ") + row.at(0);
    if (report != "ok") return checks.fail(name + " integrity", expected.path + ": " + report);
    checks.pass(name, expected.path + ": readable, writable, integrity_check ok");
    if (expected.tables) {
      const std::string missing = missingSchema(library, db, expected.tables, expected.tableCount);
      if (!missing.empty()) return checks.fail(name + " schema", "missing " + missing);
      checks.pass(name + " schema", "every table and column of " + expected.label);
    }
    if (expected.indexed) {
      const bool indexed = !db.query("SELECT name FROM sqlite_master WHERE type='index' AND name=" +
                                     sqlText(pdasuite::kConfigIndexName))
                                .empty();
      if (indexed)
        checks.pass(name + " index", std::string(pdasuite::kConfigIndexName) +
                                         " serves the configuration query in key order");
      else
        checks.fail(name + " index",
                    std::string("no ") + pdasuite::kConfigIndexName +
                        ": every configuration read sorts the whole ConfigData table",
                    [library, expected]() {
                      Database rw(library, expected.path, kOpenReadWrite);
                      rw.execute(pdasuite::kConfigIndex);
                      return std::string("added the index ") + pdasuite::kConfigIndexName + " to " +
                             expected.path;
                    });
    }
  } catch (const WriteError& e) {
    checks.fail(name, e.what());
  }
}

// The store the library picks for an installed suite from the switch, as it
// reads it: "True" in any case, or a non-zero number.
std::string expectedChoice(const seam::RegEntry& value) {
  bool registry = false;
  if (value.type == REG_SZ) {
    std::string text = value.data.substr(0, value.data.find('\0'));
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    registry = text == "true";
  } else if (value.type == REG_DWORD || value.type == REG_BINARY) {
    for (std::size_t i = 0; i < value.data.size() && i < (value.type == REG_DWORD ? 4u : 1u); ++i)
      if (value.data[i] != 0) registry = true;
  }
  return registry ? "Registry" : "Database";
}

void checkSwitch(Checks& checks, bool installed) {
  seam::RegEntry sw, published;
  const bool haveSwitch = seam::regReadValue(kSwitchKey, "_UseRegistryForPersistedData", &sw);
  const bool havePublished =
      seam::regReadValue(kSwitchKey, "_UnmanagedCodePersistedDataStore", &published);
  const std::string shown =
      havePublished ? published.data.substr(0, published.data.find('\0')) : std::string();
  if (!installed || (!haveSwitch && !havePublished))
    return checks.pass("store switch", haveSwitch ? "set; the suite is not installed"
                                                  : "not set: the SQLite store is the default");
  const std::string expected = haveSwitch ? expectedChoice(sw) : "Database";
  if (havePublished && shown == expected)
    return checks.pass("store switch", "the published choice \"" + shown + "\" matches the switch");
  checks.fail(
      "store switch",
      havePublished
          ? "the published choice \"" + shown + "\" contradicts the switch (" + expected + ")"
          : "the switch is set but no choice (\"" + expected + "\") is published",
      [expected]() {
        const long rc = seam::regSetText(kSwitchKey, "_UnmanagedCodePersistedDataStore", expected);
        if (rc != seam::kRegOk)
          throw WriteError("cannot publish the store choice: " + seam::regErrorText(rc));
        return "published \"" + expected + "\" as _UnmanagedCodePersistedDataStore";
      });
}

Checks runChecks() {
  Checks checks;
  std::string problem = seam::machineRootProblem();
  if (!problem.empty()) {
    checks.fail("machine root", problem);
    return checks;
  }
  checks.pass("machine root", machineRoot());

  const bool installed = KestDeviceIoConfig::kestIsInstalled() != 0;
  if (installed)
    checks.pass("suite marker", "brix32.dll is in the system directory");
  else
    checks.fail("suite marker",
                "no brix32.dll in the system directory: every process uses the built-in "
                "defaults (pda init installs the suite)");

  seam::RegEntry baseDir;
  bool sqliteUsable = false;
  if (!seam::regReadValue(kSuiteKey, "BaseDir", &baseDir)) {
    checks.fail("BaseDir", "not registered under HKLM\\" + std::string(kSuiteKey));
  } else {
    const std::string dir = baseDir.data.substr(0, baseDir.data.find('\0'));
    if (!fs::path(dir).is_absolute())
      checks.fail("BaseDir", "'" + dir + "' is relative: it depends on each program's directory");
    else if (!fs::is_directory(dir))
      checks.fail("BaseDir", "'" + dir + "' is not a directory");
    else
      checks.pass("BaseDir", dir);
    const std::string library = sqliteLibraryPath();
    problem = seam::libraryLoadProblem(library);
    if (!problem.empty()) {
      checks.fail("SQLite library", problem);
    } else {
      checks.pass("SQLite library", library);
      sqliteUsable = true;
    }
  }
  if (sqliteUsable) {
    const std::string library = sqliteLibraryPath();
    checkDatabase(checks, library,
                  {"the configuration database", configDatabasePath(), true,
                   pdasuite::kConfigTables, std::size(pdasuite::kConfigTables), true});
    checkDatabase(checks, library,
                  {"the usage database", analyticsDatabasePath(), true, pdasuite::kAnalyticsTables,
                   std::size(pdasuite::kAnalyticsTables), false});
    checkDatabase(checks, library,
                  {"the remote PXI database", pxiDatabasePath(), false, nullptr, 0, false});
  }

  problem = seam::registryDirectoryProblem();
  if (!problem.empty()) {
    checks.fail("registry", problem);
  } else {
    const std::vector<std::string> damaged = seam::damagedValuesFiles("");
    if (damaged.empty())
      checks.pass("registry files", "every values file is intact");
    else
      checks.fail(
          "registry files",
          damaged.front() + " is damaged (its key reads as empty)" +
              (damaged.size() > 1 ? " and " + std::to_string(damaged.size() - 1) + " more" : ""));
    const std::vector<Problem> sizes = registryValueSizeProblems();
    if (sizes.empty())
      checks.pass("registry values", "every value fits the registry store's reader");
    else
      checks.fail("registry values", sizes.front().line());
    checkSwitch(checks, installed);
  }

  problem = seam::eventLogProblem();
  if (problem.empty())
    checks.pass("event log", seam::eventLogPath());
  else
    checks.fail("event log", problem + ": the stores' reports are lost");
  return checks;
}

void print(const Checks& checks, const std::vector<std::string>& fixed, Json* json) {
  if (json) {
    Json list = Json::array();
    int failed = 0;
    for (const Check& c : checks.list()) {
      failed += c.ok ? 0 : 1;
      list.push_back(Json{{"check", c.name},
                          {"ok", c.ok},
                          {"detail", c.detail},
                          {"fixable", static_cast<bool>(c.fix)}});
    }
    (*json)["checks"] = list;
    (*json)["fixed"] = fixed;
    (*json)["problems"] = failed;
    return;
  }
  for (const std::string& f : fixed) std::cout << "fixed  " << f << '\n';
  Table table;
  for (const Check& c : checks.list())
    table.addRow({c.ok ? "ok" : "FAIL", c.name, c.detail + (c.fix ? " (pda doctor --fix)" : "")});
  table.print(std::cout);
}

void runDoctor(const DoctorOptions& o) {
  Checks checks = runChecks();
  std::vector<std::string> fixed;
  if (o.fix) {
    for (const Check& c : checks.list())
      if (!c.ok && c.fix) fixed.push_back(c.fix());
    if (!fixed.empty()) checks = runChecks();
  }
  Json doc = Json::object();
  print(checks, fixed, o.json ? &doc : nullptr);
  if (o.json) std::cout << doc.dump(2) << '\n';
  std::size_t failed = 0;
  const Check* first = nullptr;
  for (const Check& c : checks.list())
    if (!c.ok && ++failed == 1) first = &c;
  if (first) {
    std::cout.flush();
    throw WriteError(first->name + ": " + first->detail +
                     (failed > 1 ? " (and " + std::to_string(failed - 1) + " more)" : ""));
  }
}

void registerDoctor(CLI::App& app) {
  auto o = std::make_shared<DoctorOptions>();
  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check the installation and every store, one line per check; exit 1 on a problem");
  doctor->add_flag("--fix", o->fix,
                   "Repair what is safe to repair (the configuration index, a stale journal, "
                   "the published store choice) and check again");
  doctor->add_flag("--json", o->json, "Print JSON");
  doctor->footer("Examples:\n  pda doctor\n  pda doctor --fix\n  pda doctor --json");
  doctor->callback([o]() { runDoctor(*o); });
}

}  // namespace

PDA_TOOL_COMMANDS("doctor", 8, registerDoctor);

}  // namespace pdatool

// pda usage add c|com|net PROCESS TIME, pda usage add session TYPE COUNT TIME,
// pda usage show: the usage analytics database ("DataAnalytics.db" in the
// data directory). Rows are added through the usage storage of the library;
// show reads the file read-only through the run-time SQLite binding. The
// file is always that one, so these commands take no --source.

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Database.h"
#include "Table.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct UsageOptions {
  std::string kind;
  std::vector<std::string> args;
  bool json = false;
};

int parseCount(const std::string& text) {
  std::size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(text, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value < -2147483648LL || value > 2147483647LL)
    throw UsageError("COUNT must be a whole number, not '" + text + "'");
  return static_cast<int>(value);
}

std::string analyticsPath() {
  return std::string(DirUtilities::getSharedDataDir()) + "DataAnalytics.db";
}

void runAdd(const UsageOptions& o) {
  SQLiteVISAUsageStorage storage;
  bool ok = false;
  if (o.kind == "session") {
    if (o.args.size() != 3) throw UsageError("usage: pda usage add session TYPE COUNT TIME");
    ok = storage.AddSorrelSessionUsageRecord(o.args[0].c_str(), parseCount(o.args[1]),
                                             o.args[2].c_str());
  } else {
    if (o.args.size() != 2) throw UsageError("usage: pda usage add " + o.kind + " PROCESS TIME");
    // The storage takes the access time first, then the process name.
    const char* time = o.args[1].c_str();
    const char* process = o.args[0].c_str();
    if (o.kind == "c") ok = storage.AddVISACUsageRecord(time, process);
    if (o.kind == "com") ok = storage.AddVISACOMUsageRecord(time, process);
    if (o.kind == "net") ok = storage.AddVISANETUsageRecord(time, process);
  }
  if (!ok)
    throw WriteError("cannot add the usage record to '" + analyticsPath() +
                     "' (see pda log --type error)");
}

struct UsageTable {
  const char* label;
  const char* table;
  const char* query;
  std::vector<const char*> columns;
};

const UsageTable kTables[] = {
    {"c",
     "VISACAccess",
     "SELECT ProcessName, AccessTime FROM VISACAccess ORDER BY rowid",
     {"ProcessName", "AccessTime"}},
    {"com",
     "VISACOMAccess",
     "SELECT ProcessName, AccessTime FROM VISACOMAccess ORDER BY rowid",
     {"ProcessName", "AccessTime"}},
    {"net",
     "VISANETAccess",
     "SELECT ProcessName, AccessTime FROM VISANETAccess ORDER BY rowid",
     {"ProcessName", "AccessTime"}},
    {"session",
     "SorrelSessionAccess",
     "SELECT SessionType, UsageCount, StatisticsTime FROM SorrelSessionAccess ORDER BY rowid",
     {"SessionType", "UsageCount", "StatisticsTime"}},
};

void runShow(const UsageOptions& o) {
  const std::string path = analyticsPath();
  // Opened read-only: a missing file is reported, never created.
  Database db(suiteSqliteLibrary(), path, kOpenReadOnly);
  if (o.json) {
    Json doc = Json::object();
    doc["database"] = path;
    for (const UsageTable& t : kTables) {
      Json rows = Json::array();
      for (const Row& row : db.query(t.query)) {
        Json entry = Json::object();
        for (std::size_t i = 0; i < t.columns.size() && i < row.size(); ++i) {
          // UsageCount is an INTEGER column: a number in JSON.
          char* end = nullptr;
          const long long count = std::strtoll(row[i].c_str(), &end, 10);
          if (std::string(t.columns[i]) == "UsageCount" && !row[i].empty() && *end == '\0')
            entry[t.columns[i]] = count;
          else
            entry[t.columns[i]] = row[i];
        }
        rows.push_back(entry);
      }
      doc[t.table] = rows;
    }
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << "Usage records in " << path << '\n';
  for (const UsageTable& t : kTables) {
    const std::vector<Row> rows = db.query(t.query);
    std::cout << '\n'
              << t.table << " (" << rows.size() << (rows.size() == 1 ? " row" : " rows") << ")\n";
    if (rows.empty()) continue;
    Table table("  ");
    table.addRow(std::vector<std::string>(t.columns.begin(), t.columns.end()));
    for (const Row& row : rows) table.addRow(row);
    table.print(std::cout);
  }
}

void registerUsage(CLI::App& app) {
  CLI::App* usage = app.add_subcommand("usage", "Record and show VISA usage analytics");
  usage->require_subcommand(1);

  auto a = std::make_shared<UsageOptions>();
  CLI::App* add = usage->add_subcommand("add", "Add one usage record");
  add->add_option("KIND", a->kind, "c, com, net or session")
      ->required()
      ->check(CLI::IsMember({"c", "com", "net", "session"}));
  add->add_option("ARGS", a->args, "PROCESS TIME, or for session: TYPE COUNT TIME")->required();
  add->footer(
      "Examples:\n  pda usage add c myapp.exe 2026-12-05T10:00:00\n"
      "  pda usage add session remote 3 2026-12-05T10:00:00");
  add->callback([a]() { runAdd(*a); });

  auto s = std::make_shared<UsageOptions>();
  CLI::App* show = usage->add_subcommand("show", "Print every usage record");
  show->add_flag("--json", s->json, "Print JSON");
  show->footer("Example:\n  pda usage show --json");
  show->callback([s]() { runShow(*s); });
}

}  // namespace

PDA_TOOL_COMMANDS("usage", 55, registerUsage);

}  // namespace pdatool

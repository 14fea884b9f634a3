// pda show: which store the process uses and why, every global setting with
// its value and origin, the VISA settings and logging mode, the aliases, the
// remote-session parameters, the favourites, the I/O configuration tree with
// its instruments, and the PXI tables.
//
// The SQLite store answers a table without rows with the placeholder pair
// "FAKENAME***" = "FAKEVALUE***"; show leaves that pair out, since it stands
// for "nothing stored". The PXI tables are read only when the remote PXI
// database exists: reading them would otherwise create it, and show changes
// nothing.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include <pda/Win32.h>
#include "Command.h"
#include "Records.h"
#include "Settings.h"
#include "StoreHealth.h"
#include "StoreInfo.h"
#include "Table.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct ShowOptions {
  SourceOption source;
  bool json = false;
};

struct SettingRow {
  const Setting* setting;
  SettingValue value;
  SettingValue fallback;  // what the record gives when nothing is stored
  bool stored;
};

std::vector<SettingRow> readSettings(KestInfo& record) {
  // A record without a store answers every read with the setting's default.
  KestInfo defaults(WrenDataSource);
  std::vector<SettingRow> rows;
  for (const Setting& s : allSettings()) {
    SettingRow row{&s, s.read(record), s.read(defaults), false};
    row.stored = isStored(record, s.name);
    rows.push_back(row);
  }
  return rows;
}

Json valueJson(const SettingValue& v) {
  switch (v.kind) {
    case Kind::Bool:
      return Json(v.number != 0);
    case Kind::String:
      return Json(v.text);
    default:
      return Json(v.number);
  }
}

Json registryValueJson(const RegistryValue& v) {
  if (!v.present) return Json(nullptr);
  Json out = Json::object();
  out["type"] = v.typeName();
  // Text without the quotes the table shows, a DWORD as a number.
  if (v.type == REG_SZ || v.type == REG_EXPAND_SZ)
    out["value"] = v.bytes.substr(0, v.bytes.find('\0'));
  else if (v.type == REG_DWORD && v.bytes.size() == 4)
    out["value"] = std::stoull(v.display());
  else
    out["value"] = v.display();
  return out;
}

// The values of a node in map order (ci_less), then its children, depth first.
Json nodeJson(const std::string& key, IKestBase* node) {
  Json out = Json::object();
  out["name"] = key;
  if (!node) {
    out["missing"] = true;
    return out;
  }
  out["recordType"] = node->RecordType();
  out["persistentId"] = node->PersistentId();
  Json values = Json::object();
  for (const auto& pair : *node->NameValueMap()) values[pair.first] = pair.second;
  out["values"] = values;
  Json children = Json::array();
  const ::SubKeyMap subKeys = *node->SubKeyMap();
  for (const auto& child : subKeys) children.push_back(nodeJson(child.first, child.second));
  out["children"] = children;
  return out;
}

void printNode(std::ostream& out, const std::string& key, IKestBase* node, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  if (!node) {
    out << indent << key << "  (no node)\n";
    return;
  }
  out << indent << key;
  if (*node->RecordType()) out << "  (" << node->RecordType() << ")";
  out << '\n';
  Table values(indent + "  ");
  for (const auto& pair : *node->NameValueMap()) values.addRow({pair.first, pair.second});
  values.print(out);
  const ::SubKeyMap subKeys = *node->SubKeyMap();
  for (const auto& child : subKeys) printNode(out, child.first, child.second, depth + 1);
}

bool isPlaceholder(const std::string& name) {
  return name == "FAKENAME***";
}

struct VisaRow {
  const VisaSetting* setting;
  SettingValue value;
  SettingValue fallback;
  bool stored;
};

struct PxiTable {
  const char* name;
  KestBaseType type;
};
const PxiTable kPxiTables[] = {{"Chassis", ChassisBaseType},
                               {"PModules", PModulesBaseType},
                               {"SModules", SModulesBaseType},
                               {"PciBuses", PciBusesBaseType}};

bool remotePxiDatabaseExists() {
  std::error_code ec;
  return std::filesystem::exists(std::string(DirUtilities::getPxiDataDir()) + "RemotePXI.db", ec);
}

// Everything beyond the global settings and the configuration tree.
struct OtherRecords {
  DataSource visaSource = UnknownDataSource;
  std::vector<VisaRow> visa;
  visaLoggingMode storedLogMode = LogModeOff;
  bool logModeStored = false;
  visaLoggingMode processLogMode = LogModeUnknown;
  std::vector<AliasEntry> aliases;
  std::vector<std::pair<std::string, std::string>> remoteSession;
  std::vector<std::pair<std::string, std::string>> favorites;  // name, on/off/not set
  bool pxiAvailable = false;
  std::vector<std::pair<const PxiTable*, Json>> pxi;
};

std::vector<std::pair<std::string, std::string>> realValues(IKestBase* node) {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto& pair : nodeValues(node))
    if (!isPlaceholder(pair.first)) out.push_back(pair);
  return out;
}

OtherRecords readOtherRecords(DataSource source) {
  OtherRecords r;
  VisaInfo visa(source);
  VisaInfo visaDefaults(WrenDataSource);
  r.visaSource = visa.getDataSource();
  for (const VisaSetting& s : allVisaSettings()) {
    VisaRow row{&s, s.read(visa), s.read(visaDefaults), false};
    row.stored = isStoredIn(visa, s.name);
    r.visa.push_back(row);
  }
  r.storedLogMode = visa.getLogMode();
  r.logModeStored = isStoredIn(visa, "Logging");
  r.processLogMode = VisaInfo::getVisaLoggingMode();

  KestAliases aliases(source);
  r.aliases = listAliases(aliases, true, true);

  SorrelParams sorrel(source);
  r.remoteSession = realValues(sorrel.getIKestBase());

  InstrumentFavoritesInfo favorites(source);
  for (const auto& pair : realValues(favorites.getIKestBase()))
    r.favorites.emplace_back(
        pair.first, favoriteName(favorites.getInstrumentFavoriteSetting(pair.first.c_str())));

  r.pxiAvailable = remotePxiDatabaseExists();
  if (r.pxiAvailable) {
    for (const PxiTable& table : kPxiTables) {
      PxiTypeInfo record(table.type);
      Json doc = Json::object();
      IKestBase* root = record.getIKestBase();
      if (root) {
        Json values = Json::object();
        for (const auto& pair : realValues(root)) values[pair.first] = pair.second;
        doc["values"] = values;
        Json children = Json::array();
        const ::SubKeyMap subKeys = *root->SubKeyMap();
        for (const auto& child : subKeys) children.push_back(nodeJson(child.first, child.second));
        doc["records"] = children;
      }
      r.pxi.emplace_back(&table, doc);
    }
  }
  return r;
}

Json pairsJson(const std::vector<std::pair<std::string, std::string>>& pairs) {
  Json out = Json::object();
  for (const auto& pair : pairs) out[pair.first] = pair.second;
  return out;
}

// An empty text shows as "" so that the columns stay readable.
std::string cell(const SettingValue& v) {
  const std::string text = displayText(v);
  return text.empty() ? "\"\"" : text;
}

void runShow(const ShowOptions& options) {
  const SourceReport report = explainSource(options.source.dataSource());
  // A store that cannot be read is listed (and makes the exit status 1), so
  // that its defaults are never taken for stored values.
  std::vector<Problem> problems = readProblems(report.chosen);
  if (remotePxiDatabaseExists())
    for (Problem& p : pxiProblems()) problems.push_back(std::move(p));
  KestInfo record(report.chosen);
  const std::vector<SettingRow> rows = readSettings(record);
  const bool haveStore = record.getIKestBase() != nullptr;
  NodePtr config = createConfigurationRoot(report.chosen);

  if (options.json) {
    Json doc = Json::object();
    doc["version"] = PDA_VERSION_STRING;
    Json source = Json::object();
    source["chosen"] = KestRecord::getDataSourceString(report.chosen);
    source["store"] = describeDataSource(report.chosen);
    source["requested"] = report.requested;
    source["installed"] = report.installed;
    source["registrySwitch"] = registryValueJson(report.registrySwitch);
    source["published"] = registryValueJson(report.publishedChoice);
    source["reason"] = report.reason;
    doc["dataSource"] = source;
    Json dirs = Json::object();
    dirs["base"] = DirUtilities::getBaseDir();
    dirs["data"] = DirUtilities::getSharedDataDir();
    dirs["pxi"] = DirUtilities::getPxiDataDir();
    doc["directories"] = dirs;
    Json settings = Json::object();
    settings["available"] = haveStore;
    Json values = Json::object();
    for (const SettingRow& row : rows) {
      Json entry = Json::object();
      entry["value"] = valueJson(row.value);
      entry["origin"] = row.stored ? "stored" : "default";
      entry["default"] = valueJson(row.fallback);
      entry["kind"] = kindName(row.setting->kind);
      entry["writable"] = static_cast<bool>(row.setting->write);
      values[row.setting->name] = entry;
    }
    settings["values"] = values;
    doc["settings"] = settings;
    Json io = Json::object();
    io["available"] = static_cast<bool>(config);
    Json interfaces = Json::array();
    if (config) {
      const ::SubKeyMap subKeys = *config->SubKeyMap();
      for (const auto& child : subKeys) interfaces.push_back(nodeJson(child.first, child.second));
    }
    io["interfaces"] = interfaces;
    const OtherRecords other = readOtherRecords(report.chosen);
    Json visa = Json::object();
    Json visaValues = Json::object();
    for (const VisaRow& row : other.visa) {
      Json entry = Json::object();
      entry["value"] = valueJson(row.value);
      entry["origin"] = row.stored ? "stored" : "default";
      entry["default"] = valueJson(row.fallback);
      entry["kind"] = kindName(row.setting->kind);
      visaValues[row.setting->name] = entry;
    }
    visa["values"] = visaValues;
    Json logMode = Json::object();
    logMode["stored"] = logModeName(other.storedLogMode);
    logMode["origin"] = other.logModeStored ? "stored" : "default";
    logMode["process"] = logModeName(other.processLogMode);
    visa["logMode"] = logMode;
    doc["visa"] = visa;
    Json aliases = Json::array();
    for (const AliasEntry& e : other.aliases)
      aliases.push_back(Json{{"kind", e.kind}, {"alias", e.alias}, {"address", e.address}});
    doc["aliases"] = aliases;
    doc["remoteSession"] = pairsJson(other.remoteSession);
    doc["favorites"] = pairsJson(other.favorites);
    doc["ioConfiguration"] = io;
    Json pxi = Json::object();
    pxi["available"] = other.pxiAvailable;
    for (const auto& table : other.pxi) pxi[table.first->name] = table.second;
    doc["pxi"] = pxi;
    Json list = Json::array();
    for (const Problem& p : problems)
      list.push_back(Json{{"store", p.store}, {"reason", p.reason}});
    doc["problems"] = list;
    std::cout << doc.dump(2) << '\n';
    std::cout.flush();
    throwIfAny(problems);
    return;
  }

  std::ostream& out = std::cout;
  out << "Data source\n";
  Table source("  ");
  source.addRow({"in use", std::string(KestRecord::getDataSourceString(report.chosen)) + " (" +
                               describeDataSource(report.chosen) + ")"});
  source.addRow({"why", report.reason});
  source.addRow({"suite installed", report.installed ? "yes" : "no"});
  source.addRow({"registry switch",
                 report.registrySwitch.present
                     ? "_UseRegistryForPersistedData = " + report.registrySwitch.display() + " (" +
                           report.registrySwitch.typeName() + ")"
                     : "_UseRegistryForPersistedData is not set"});
  source.addRow(
      {"published", report.publishedChoice.present
                        ? "_UnmanagedCodePersistedDataStore = " + report.publishedChoice.display()
                        : "_UnmanagedCodePersistedDataStore is not set"});
  source.addRow({"base directory", DirUtilities::getBaseDir()});
  source.addRow({"data directory", DirUtilities::getSharedDataDir()});
  source.print(out);

  out << "\nGlobal settings";
  if (!haveStore || !problems.empty())
    out << " (the store could not be read: every value is its default)";
  out << '\n';
  Table settings("  ");
  settings.addRow({"NAME", "VALUE", "ORIGIN", "DEFAULT", "ACCESS"});
  for (const SettingRow& row : rows)
    settings.addRow({row.setting->name, cell(row.value), row.stored ? "stored" : "default",
                     cell(row.fallback), row.setting->write ? "read-write" : "read-only"});
  settings.print(out);

  const OtherRecords other = readOtherRecords(report.chosen);
  out << "\nVISA settings\n";
  Table visa("  ");
  visa.addRow({"NAME", "VALUE", "ORIGIN", "DEFAULT"});
  for (const VisaRow& row : other.visa)
    visa.addRow({row.setting->name, cell(row.value), row.stored ? "stored" : "default",
                 cell(row.fallback)});
  visa.addRow({"Logging", logModeName(other.storedLogMode),
               other.logModeStored ? "stored" : "default", "off"});
  visa.print(out);
  out << "  (this process logs VISA events: " << logModeName(other.processLogMode) << ")\n";

  out << "\nAliases\n";
  if (other.aliases.empty()) out << "  (none)\n";
  Table aliases("  ");
  if (!other.aliases.empty()) aliases.addRow({"KIND", "ALIAS", "ADDRESS"});
  for (const AliasEntry& e : other.aliases) aliases.addRow({e.kind, e.alias, e.address});
  aliases.print(out);

  out << "\nRemote-session parameters\n";
  if (other.remoteSession.empty()) out << "  (none stored)\n";
  Table sorrel("  ");
  for (const auto& pair : other.remoteSession) sorrel.addRow({pair.first, pair.second});
  sorrel.print(out);

  out << "\nFavourites\n";
  if (other.favorites.empty()) out << "  (none stored)\n";
  Table favorites("  ");
  for (const auto& pair : other.favorites) favorites.addRow({pair.first, pair.second});
  favorites.print(out);

  out << "\nI/O configuration\n";
  if (!config) {
    out << "  (the store is not available)\n";
  } else {
    const ::SubKeyMap subKeys = *config->SubKeyMap();
    if (subKeys.empty()) out << "  (no interfaces)\n";
    for (const auto& child : subKeys) printNode(out, child.first, child.second, 1);
  }

  out << "\nPXI tables (remote PXI database)\n";
  if (!other.pxiAvailable) out << "  (no remote PXI database yet)\n";
  for (const auto& table : other.pxi) {
    const Json& doc = table.second;
    const std::size_t records = doc.contains("records") ? doc["records"].size() : 0;
    const std::size_t values = doc.contains("values") ? doc["values"].size() : 0;
    out << "  " << table.first->name << ": ";
    if (!doc.contains("records")) {
      out << "not available\n";
      continue;
    }
    out << records << (records == 1 ? " record" : " records");
    if (values) out << ", " << values << (values == 1 ? " value" : " values");
    out << '\n';
    Table pairs("    ");
    for (const auto& item : doc["values"].items())
      pairs.addRow({item.key(), item.value().get<std::string>()});
    pairs.print(out);
    for (const auto& pxiRecord : doc["records"]) {
      out << "    " << pxiRecord["name"].get<std::string>() << '\n';
      Table pxiValues("      ");
      if (pxiRecord.contains("values"))
        for (const auto& item : pxiRecord["values"].items())
          pxiValues.addRow({item.key(), item.value().get<std::string>()});
      pxiValues.print(out);
    }
  }
  if (!problems.empty()) {
    out << "\nProblems\n";
    for (const Problem& p : problems) out << "  " << p.line() << '\n';
    out.flush();
    throwIfAny(problems);
  }
}

void registerShow(CLI::App& app) {
  auto options = std::make_shared<ShowOptions>();
  CLI::App* show = app.add_subcommand(
      "show",
      "Show the store in use and why, and every record: settings, VISA, aliases, "
      "remote-session parameters, favourites, the I/O configuration and the PXI tables");
  show->footer(
      "Examples:\n  pda show\n  pda show --source registry\n  pda show --json | jq "
      ".settings.values");
  addSourceOption(*show, options->source);
  show->add_flag("--json", options->json, "Print the same as one JSON document");
  show->callback([options]() { runShow(*options); });
}

}  // namespace

PDA_TOOL_COMMANDS("show", 10, registerShow);

}  // namespace pdatool

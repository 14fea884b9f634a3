// pda show: which store the process uses and why, every global setting with
// its value and origin, and the I/O configuration tree.

#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Settings.h"
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

// An empty text shows as "" so that the columns stay readable.
std::string cell(const SettingValue& v) {
  const std::string text = displayText(v);
  return text.empty() ? "\"\"" : text;
}

void runShow(const ShowOptions& options) {
  const SourceReport report = explainSource(options.source.dataSource());
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
    doc["ioConfiguration"] = io;
    std::cout << doc.dump(2) << '\n';
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
  if (!haveStore) out << " (the store is not available: every value is its default)";
  out << '\n';
  Table settings("  ");
  settings.addRow({"NAME", "VALUE", "ORIGIN", "DEFAULT", "ACCESS"});
  for (const SettingRow& row : rows)
    settings.addRow({row.setting->name, cell(row.value), row.stored ? "stored" : "default",
                     cell(row.fallback), row.setting->write ? "read-write" : "read-only"});
  settings.print(out);

  out << "\nI/O configuration\n";
  if (!config) {
    out << "  (the store is not available)\n";
  } else {
    const ::SubKeyMap subKeys = *config->SubKeyMap();
    if (subKeys.empty()) out << "  (no interfaces)\n";
    for (const auto& child : subKeys) printNode(out, child.first, child.second, 1);
  }
}

void registerShow(CLI::App& app) {
  auto options = std::make_shared<ShowOptions>();
  CLI::App* show = app.add_subcommand(
      "show", "Show the store in use and why, every global setting, and the I/O configuration");
  addSourceOption(*show, options->source);
  show->add_flag("--json", options->json, "Print the same as one JSON document");
  show->callback([options]() { runShow(*options); });
}

}  // namespace

PDA_TOOL_COMMANDS("show", 10, registerShow);

}  // namespace pdatool

// pda get NAME, pda set NAME VALUE: one global setting through the KestInfo
// record, on the default store or the one named with --source.

#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Settings.h"
#include "StoreHealth.h"

namespace pdatool {

namespace {

struct GetOptions {
  SourceOption source;
  std::string name;
  bool json = false;
};

struct SetOptions {
  SourceOption source;
  std::string name;
  std::string value;
};

const Setting& requireSetting(const std::string& name) {
  const Setting* setting = findSetting(name);
  if (!setting)
    throw UsageError("unknown setting '" + name + "' (pda show lists the global settings)");
  return *setting;
}

void runGet(const GetOptions& options) {
  const Setting& setting = requireSetting(options.name);
  requireReadable(options.source.dataSource());
  KestInfo record(options.source.dataSource());
  const SettingValue value = setting.read(record);
  if (options.json) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    doc["name"] = setting.name;
    if (value.kind == Kind::String)
      doc["value"] = value.text;
    else if (value.kind == Kind::Bool)
      doc["value"] = value.number != 0;
    else
      doc["value"] = value.number;
    doc["origin"] = isStored(record, setting.name) ? "stored" : "default";
    doc["dataSource"] = record.getDataSourceString();
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << displayText(value) << '\n';
}

void runSet(const SetOptions& options) {
  const Setting& setting = requireSetting(options.name);
  if (!setting.write) throw UsageError(std::string(setting.name) + " is read-only");
  // Bad input is a usage error whatever the store: the value is parsed first,
  // by a write to a record without a store, which keeps nothing.
  KestInfo parseOnly(WrenDataSource);
  setting.write(parseOnly, options.value);
  const DataSource source = resolveSource(options.source.dataSource());
  checkWritable(source, setting.name, options.value);
  KestInfo record(source);
  if (!setting.write(record, options.value))
    throw WriteError(std::string("cannot set ") + setting.name + ": " + writeRefusal(source));
  // What the record holds now is the value as the store keeps it ("True" for
  // yes, a number without its leading zeros); a fresh record must read it.
  const std::string expected =
      setting.kind == Kind::String ? options.value : displayText(setting.read(record));
  KestInfo fresh(source);
  const std::string readBack = displayText(setting.read(fresh));
  if (readBack != expected || !isStored(fresh, setting.name))
    throw WriteError(std::string("wrote ") + setting.name + " to " + describeDataSource(source) +
                     ", but it reads back as '" + readBack + "'");
  std::cout << "Set " << setting.name << " to " << expected << " in " << describeDataSource(source)
            << '\n';
}

void registerSettingsCommands(CLI::App& app) {
  auto get = std::make_shared<GetOptions>();
  CLI::App* getCommand = app.add_subcommand("get", "Print the value of one global setting");
  getCommand->add_option("NAME", get->name, "Stored value name, e.g. InstallLevel")->required();
  getCommand->add_flag("--json", get->json, "Print JSON with the value's origin");
  getCommand->footer(
      "Examples:\n  pda get InstallLevel\n  pda get IOControlHidden --source sqlite --json");
  addSourceOption(*getCommand, get->source);
  getCommand->callback([get]() { runGet(*get); });

  auto set = std::make_shared<SetOptions>();
  CLI::App* setCommand = app.add_subcommand("set", "Change the value of one global setting");
  setCommand->add_option("NAME", set->name, "Stored value name, e.g. IOControlHidden")->required();
  setCommand->add_option("VALUE", set->value, "New value: a number, true/false, or text")
      ->required();
  setCommand->footer(
      "Examples:\n  pda set IOControlHidden true\n  pda set WaitForIOReadyMilliseconds 5000 "
      "--source registry");
  addSourceOption(*setCommand, set->source);
  setCommand->callback([set]() { runSet(*set); });
}

}  // namespace

PDA_TOOL_COMMANDS("settings", 20, registerSettingsCommands);

}  // namespace pdatool

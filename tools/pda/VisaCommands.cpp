// pda visa get|set NAME [VALUE], pda visa log-mode [off|eventviewer|debugger]:
// the VISA settings through the VisaInfo record.

#include <cctype>
#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Records.h"
#include "StoreHealth.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct VisaOptions {
  SourceOption source;
  std::string name;
  std::string value;
  std::string mode;
  bool json = false;
};

const VisaSetting& requireVisaSetting(const std::string& name) {
  const VisaSetting* s = findVisaSetting(name);
  if (!s) throw UsageError("unknown VISA setting '" + name + "' (pda show lists them)");
  return *s;
}

void runGet(const VisaOptions& o) {
  const VisaSetting& s = requireVisaSetting(o.name);
  requireReadable(o.source.dataSource());
  VisaInfo record(o.source.dataSource());
  const SettingValue value = s.read(record);
  if (o.json) {
    Json doc = Json::object();
    doc["name"] = s.name;
    doc["value"] = value.kind == Kind::String ? Json(value.text) : Json(value.number);
    doc["origin"] = isStoredIn(record, s.name) ? "stored" : "default";
    doc["dataSource"] = record.getDataSourceString();
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << displayText(value) << '\n';
}

void runSet(const VisaOptions& o) {
  const VisaSetting& s = requireVisaSetting(o.name);
  // Bad input is a usage error whatever the store (see pda set).
  VisaInfo parseOnly(WrenDataSource);
  s.write(parseOnly, o.value);
  const DataSource source = resolveSource(o.source.dataSource());
  checkWritable(source, s.name, o.value);
  VisaInfo record(source);
  if (!s.write(record, o.value))
    throw WriteError(std::string("cannot set ") + s.name + ": " + writeRefusal(source));
  const std::string expected = s.kind == Kind::String ? o.value : displayText(s.read(record));
  VisaInfo fresh(source);
  const std::string readBack = displayText(s.read(fresh));
  if (readBack != expected || !isStoredIn(fresh, s.name))
    throw WriteError(std::string("wrote ") + s.name + " to " + describeDataSource(source) +
                     ", but it reads back as '" + readBack + "'");
  std::cout << "Set " << s.name << " to " << expected << " in " << describeDataSource(source)
            << '\n';
}

void runLogMode(const VisaOptions& o) {
  if (!o.mode.empty()) {
    std::string name;
    for (char c : o.mode) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const visaLoggingMode mode = name == "eventviewer" ? LogModeEventViewer
                                 : name == "debugger"  ? LogModeDebugger
                                                       : LogModeOff;
    const DataSource source = resolveSource(o.source.dataSource());
    checkWritable(source, "Logging", name);
    VisaInfo record(source);
    if (!record.setLogMode(mode))
      throw WriteError("cannot set the logging mode: " + writeRefusal(source));
    VisaInfo fresh(source);
    if (fresh.getLogMode() != mode || !isStoredIn(fresh, "Logging"))
      throw WriteError(std::string("wrote the logging mode to ") + describeDataSource(source) +
                       ", but it reads back as " + logModeName(fresh.getLogMode()));
    std::cout << "Set the logging mode to " << logModeName(mode) << " in "
              << describeDataSource(source) << '\n';
    return;
  }
  requireReadable(o.source.dataSource());
  VisaInfo record(o.source.dataSource());
  const visaLoggingMode stored = record.getLogMode();
  const bool isStored = isStoredIn(record, "Logging");
  // The process-wide mode is computed once per process from the default store.
  const visaLoggingMode cached = VisaInfo::getVisaLoggingMode();
  if (o.json) {
    Json doc = Json::object();
    doc["dataSource"] = record.getDataSourceString();
    doc["stored"] = logModeName(stored);
    doc["origin"] = isStored ? "stored" : "default";
    doc["process"] = logModeName(cached);
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << "stored mode   " << logModeName(stored) << " (" << (isStored ? "stored" : "default")
            << ", in " << describeDataSource(record.getDataSource()) << ")\n"
            << "process mode  " << logModeName(cached)
            << " (read once per process from the default store)\n";
}

void registerVisa(CLI::App& app) {
  CLI::App* visa = app.add_subcommand("visa", "Read and change the VISA settings and logging mode");
  visa->require_subcommand(1);

  auto g = std::make_shared<VisaOptions>();
  CLI::App* get = visa->add_subcommand("get", "Print one VISA setting");
  get->add_option("NAME", g->name, "Stored value name, e.g. DefaultQSize or \"Spec Version\"")
      ->required();
  get->add_flag("--json", g->json, "Print JSON");
  addSourceOption(*get, g->source);
  get->footer(
      "Examples:\n  pda visa get MaxSessNbr\n  pda visa get Manufacturer --source sqlite --json");
  get->callback([g]() { runGet(*g); });

  auto s = std::make_shared<VisaOptions>();
  CLI::App* set = visa->add_subcommand("set", "Change one VISA setting");
  set->add_option("NAME", s->name, "Stored value name")->required();
  set->add_option("VALUE", s->value, "A whole number, or text")->required();
  addSourceOption(*set, s->source);
  set->footer(
      "Examples:\n  pda visa set DefaultQSize 100\n  pda visa set Manufacturer \"Bench 3\"");
  set->callback([s]() { runSet(*s); });

  auto m = std::make_shared<VisaOptions>();
  CLI::App* mode = visa->add_subcommand(
      "log-mode", "Show the stored and the process-wide logging mode, or store a new one");
  mode->add_option("MODE", m->mode, "off, eventviewer or debugger")
      ->check(CLI::IsMember({"off", "eventviewer", "debugger"}, CLI::ignore_case));
  mode->add_flag("--json", m->json, "Print JSON");
  addSourceOption(*mode, m->source);
  mode->footer("Examples:\n  pda visa log-mode\n  pda visa log-mode debugger");
  mode->callback([m]() { runLogMode(*m); });
}

}  // namespace

PDA_TOOL_COMMANDS("visa", 35, registerVisa);

}  // namespace pdatool

// pda unset NAME, pda visa unset NAME: removes a stored setting, in whatever
// letter case it was stored, so that the getter's default applies again.
//
// The SQLite store deletes rows by their exact name, and a database may hold
// the same name in several spellings: each round removes the spelling the
// record reads, through a fresh record, until none is left (at most
// kMaxSpellings rounds). Removing a setting that is not stored succeeds and
// says so.

#include <cctype>
#include <iostream>
#include <memory>
#include <string>

#include "Command.h"
#include "Records.h"
#include "Settings.h"
#include "StoreHealth.h"

namespace pdatool {

namespace {

const int kMaxSpellings = 64;

struct UnsetOptions {
  SourceOption source;
  std::string name;
};

// The stored spelling of name in the record's root node, "" when none.
std::string storedSpelling(const KestRecord& record, const std::string& name) {
  IKestBase* root = record.getIKestBase();
  if (!root) return "";
  const ::NameValueMap* values = root->NameValueMap();
  const auto it = values->find(name);
  return it == values->end() ? "" : std::string(it->first);
}

// Record is KestInfo or VisaInfo; read(record) fills its root's values;
// shown(record) is the value as a getter gives it.
template <typename Record, typename Read>
void unsetIn(DataSource requested, const std::string& name, Read read) {
  const DataSource source = resolveSource(requested);
  if (source != RegistryDataSource && source != SQLiteDataSource)
    throw WriteError("cannot unset " + name + ": " + describeDataSource(source) +
                     " keep nothing (pda init installs a store; --source registry or sqlite "
                     "picks one)");
  throwIfAny(readProblems(source));
  int removed = 0;
  for (;; ++removed) {
    Record record(source);
    read(record);
    const std::string spelling = storedSpelling(record, name);
    if (spelling.empty()) break;
    if (removed == kMaxSpellings)
      throw WriteError("cannot unset " + name + ": it is still stored after " +
                       std::to_string(kMaxSpellings) + " removals");
    if (!record.getIKestBase()->deleteName(spelling.c_str()))
      throw WriteError("cannot unset " + name + ": " + writeRefusal(source));
  }
  Record defaults(WrenDataSource);
  const std::string fallback = read(defaults);
  std::cout << (removed ? "Removed " : "Nothing to remove: ") << name
            << (removed ? " from " : " is not stored in ") << describeDataSource(source)
            << "; its default applies: " << (fallback.empty() ? "\"\"" : fallback) << '\n';
}

void runUnset(const UnsetOptions& o) {
  const Setting* setting = findSetting(o.name);
  if (!setting)
    throw UsageError("unknown setting '" + o.name + "' (pda show lists the global settings)");
  unsetIn<KestInfo>(o.source.dataSource(), setting->name,
                    [setting](KestInfo& r) { return displayText(setting->read(r)); });
}

void runVisaUnset(const UnsetOptions& o) {
  const VisaSetting* setting = findVisaSetting(o.name);
  std::string lowered;
  for (char c : o.name) lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool logging = lowered == "logging";
  if (!setting && !logging)
    throw UsageError("unknown VISA setting '" + o.name + "' (pda show lists them)");
  if (logging) {
    unsetIn<VisaInfo>(o.source.dataSource(), "Logging",
                      [](VisaInfo& r) { return std::string(logModeName(r.getLogMode())); });
    return;
  }
  unsetIn<VisaInfo>(o.source.dataSource(), setting->name,
                    [setting](VisaInfo& r) { return displayText(setting->read(r)); });
}

void addUnset(CLI::App& parent, const char* help, const char* footer,
              void (*run)(const UnsetOptions&)) {
  auto o = std::make_shared<UnsetOptions>();
  CLI::App* unset = parent.add_subcommand("unset", help);
  unset->add_option("NAME", o->name, "Stored value name, in any letter case")->required();
  addSourceOption(*unset, o->source);
  unset->footer(footer);
  unset->callback([o, run]() { run(*o); });
}

void registerUnset(CLI::App& app) {
  addUnset(app, "Remove a stored global setting, so that its default applies again",
           "Examples:\n  pda unset IOControlHidden\n  pda unset iocontrolhidden --source registry",
           runUnset);
  // The visa group registers before this one (order 35).
  for (CLI::App* visa : app.get_subcommands({}))
    if (visa->get_name() == "visa")
      addUnset(*visa, "Remove a stored VISA setting or the logging mode",
               "Examples:\n  pda visa unset DefaultQSize\n  pda visa unset Logging", runVisaUnset);
}

}  // namespace

PDA_TOOL_COMMANDS("unset", 36, registerUnset);

}  // namespace pdatool

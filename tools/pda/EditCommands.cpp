// Editing the records that were read-only through pda: pda alias add|remove,
// favorite set, config show|get|set and sorrel [get|set] (the remote-session
// parameters). Every write is read back by a new record before the tool
// reports success.
//
// Decisions:
// - Aliases are written where the alias reader reads them (the KestAliases
//   record itself only reads): the "InstrAliasInfo" rows of their kind on
//   SQLite, the "VisaDevices" and "Devices" keys on the registry, through the
//   same all-or-nothing writer as pda import.
// - Favourites, the configuration tree and the remote-session parameters are
//   written through their records' nodes, as the suite's programs write them.
// - The built-in defaults keep nothing, so every edit there is refused.
// - config addresses an interface by its name in the tree (its VISA name) and
//   an instrument by its name below it, as `pda show` lists them.

#include <cctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "Records.h"
#include "SettingsDocument.h"
#include "StoreInfo.h"
#include "Table.h"

namespace pdatool {

namespace {

DataSource writableSource(const SourceOption& option) {
  DataSource source = option.dataSource();
  if (source == UnknownDataSource) source = KestRecord::getGlobalDefaultDataSource();
  if (source != RegistryDataSource && source != SQLiteDataSource)
    throw UsageError(std::string("the built-in defaults keep nothing: ") +
                     "choose --source registry or sqlite (or install the suite)");
  return source;
}

Store storeFor(DataSource source) {
  return source == RegistryDataSource ? Store::Registry : Store::SQLite;
}

// --- aliases ------------------------------------------------------------------

struct AliasEdit {
  SourceOption source;
  std::string alias;
  std::string address;
  bool brix = false;
};

std::string resolve(DataSource source, bool brix, const std::string& alias, bool* found) {
  KestAliases record(source);
  std::vector<char> address(kTextBuffer, '\0');
  *found = (brix ? record.unaliasBrixAddress(alias.c_str(), address.data(), kTextBuffer)
                 : record.unaliasVisaAddress(alias.c_str(), address.data(), kTextBuffer)) != 0;
  return address.data();
}

void editAlias(const AliasEdit& o, bool remove) {
  const DataSource source = writableSource(o.source);
  const Store store = storeFor(source);
  if (o.alias.empty()) throw UsageError("an alias needs a name");
  if (!remove && o.address.empty())
    throw UsageError("an alias needs an address (pda alias remove deletes one)");
  const char* kind = o.brix ? "brix" : "visa";
  Json current = readStore(store);
  Json& table = current["aliases"][kind];
  std::string existing;
  for (auto it = table.begin(); it != table.end(); ++it)
    if (lowerCase(it.key()) == lowerCase(o.alias)) existing = it.key();
  if (remove) {
    if (existing.empty())
      throw WriteError("'" + o.alias + "' is no " + (o.brix ? "Brix" : "VISA") + " alias in " +
                       describeDataSource(source));
    table.erase(existing);
  } else {
    // A new spelling replaces the old one: the alias is one name either way.
    if (!existing.empty()) table.erase(existing);
    table[o.alias] = o.address;
  }
  Json doc = Json::object();
  doc["format"] = current["format"];
  doc["version"] = current["version"];
  doc["aliases"] = current["aliases"];
  try {
    doc = forStore(doc, store, true);
  } catch (const DocumentError& e) {
    throw UsageError(std::string(describeDataSource(source)) + " cannot hold it (" + e.what() +
                     ")");
  }
  writeStore(store, doc);
  bool found = false;
  const std::string address = resolve(source, o.brix, o.alias, &found);
  if (remove ? found : (!found || address != o.address))
    throw WriteError("written, but the alias reader does not give it back");
  std::cout << (remove ? "removed " : "") << o.alias << (remove ? "" : " -> " + o.address) << '\n';
}

// --- favourites ---------------------------------------------------------------

struct FavoriteEdit {
  SourceOption source;
  std::string name;
  std::string setting;
};

void editFavorite(const FavoriteEdit& o) {
  const DataSource source = writableSource(o.source);
  const std::string setting = lowerCase(o.setting);
  InstrumentFavoritesInfo record(source);
  IKestBase* root = record.getIKestBase();
  int status = 0;
  InstrumentFavoriteEnum wanted = InstrumentFavoriteNotSet;
  if (setting == "on" || setting == "off") {
    wanted = setting == "on" ? InstrumentFavoriteOn : InstrumentFavoriteOff;
    status = record.setValueString(o.name.c_str(), setting == "on" ? "On" : "Off");
  } else if (setting == "unset") {
    root->NameValueMap();
    status = isStoredIn(record, o.name.c_str()) ? root->deleteName(o.name.c_str()) : 1;
  } else {
    throw UsageError("a favourite is on, off or unset, not '" + o.setting + "'");
  }
  if (!status) throw WriteError(std::string(describeDataSource(source)) + " refused the write");
  InstrumentFavoritesInfo reread(source);
  if (reread.getInstrumentFavoriteSetting(o.name.c_str()) != wanted)
    throw WriteError("written, but a new read does not give it back");
  std::cout << favoriteName(wanted) << '\n';
}

// --- the configuration tree -------------------------------------------------------

struct ConfigOptions {
  SourceOption source;
  std::string interfaceName;
  std::string instrument;
  std::string name;
  std::string value;
  bool json = false;
};

// The node of the interface (and instrument), or a UsageError naming what
// exists.
IKestBase* findNode(KestConfig& record, const ConfigOptions& o) {
  IKestBase* root = record.kestBase();
  if (!root) throw WriteError("the store holds no configuration tree");
  int found = 0;
  auto intf = root->findMap(o.interfaceName.c_str(), &found);
  if (!found) {
    std::string names;
    for (const auto& child : *root->SubKeyMap()) names += (names.empty() ? "" : ", ") + child.first;
    throw UsageError("no interface '" + o.interfaceName +
                     "' (there are: " + (names.empty() ? "none" : names) + ")");
  }
  if (o.instrument.empty()) return intf->second;
  auto device = intf->second->findMap(o.instrument.c_str(), &found);
  if (!found)
    throw UsageError("no instrument '" + o.instrument + "' below '" + o.interfaceName + "'");
  return device->second;
}

std::string readText(IKestBase* node, const std::string& name) {
  std::vector<char> buffer(kTextBuffer, '\0');
  node->getValueString(name.c_str(), buffer.data(), kTextBuffer, "");
  return buffer.data();
}

void printValues(IKestBase* node, const std::string& title, bool json) {
  if (json) {
    Json doc = Json::object();
    Json values = Json::object();
    for (const auto& pair : nodeValues(node)) values[pair.first] = pair.second;
    doc["values"] = values;
    Json children = Json::array();
    for (const auto& child : *node->SubKeyMap()) children.push_back(child.first);
    doc["children"] = children;
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << title << '\n';
  Table table("  ");
  for (const auto& pair : nodeValues(node)) table.addRow({pair.first, pair.second});
  table.print(std::cout);
  for (const auto& child : *node->SubKeyMap()) std::cout << "  [" << child.first << "]\n";
}

void runConfigShow(const ConfigOptions& o) {
  KestConfig record(o.source.dataSource());
  if (o.interfaceName.empty()) {
    IKestBase* root = record.kestBase();
    if (!root) throw WriteError("the store holds no configuration tree");
    if (o.json) {
      Json doc = Json::object();
      for (const auto& intf : *root->SubKeyMap()) {
        Json children = Json::array();
        for (const auto& child : *intf.second->SubKeyMap()) children.push_back(child.first);
        doc[intf.first] = children;
      }
      std::cout << doc.dump(2) << '\n';
      return;
    }
    for (const auto& intf : *root->SubKeyMap()) {
      std::cout << intf.first << '\n';
      for (const auto& child : *intf.second->SubKeyMap()) std::cout << "  " << child.first << '\n';
    }
    return;
  }
  printValues(findNode(record, o),
              o.instrument.empty() ? o.interfaceName : o.interfaceName + " / " + o.instrument,
              o.json);
}

void runConfigGet(const ConfigOptions& o) {
  KestConfig record(o.source.dataSource());
  IKestBase* node = findNode(record, o);
  const ::NameValueMap& values = *node->NameValueMap();
  auto it = values.find(o.name);
  if (it == values.end())
    throw WriteError("'" + o.name +
                     "' is not stored for this record (pda config show lists "
                     "what is)");
  std::cout << it->second << '\n';
}

void runConfigSet(const ConfigOptions& o) {
  const DataSource source = writableSource(o.source);
  {
    KestConfig record(source);
    IKestBase* node = findNode(record, o);
    if (!node->setValueString(o.name.c_str(), o.value.c_str()))
      throw WriteError(std::string(describeDataSource(source)) + " refused the write");
  }
  // Read back by a new record, which reads the store again.
  KestConfig reread(source);
  IKestBase* node = findNode(reread, o);
  if (readText(node, o.name) != o.value)
    throw WriteError("written, but a new read of the configuration does not give it back");
  std::cout << o.value << '\n';
}

// --- remote-session parameters ---------------------------------------------------

struct SorrelOptions {
  SourceOption source;
  std::string name;
  std::string value;
  bool json = false;
};

void runSorrelList(const SorrelOptions& o) {
  SorrelParams record(o.source.dataSource());
  const auto values = nodeValues(record.getIKestBase());
  if (o.json) {
    Json doc = Json::object();
    doc["dataSource"] = record.getDataSourceString();
    Json map = Json::object();
    for (const auto& pair : values) map[pair.first] = pair.second;
    doc["parameters"] = map;
    std::cout << doc.dump(2) << '\n';
    return;
  }
  Table table("  ");
  for (const auto& pair : values) table.addRow({pair.first, pair.second});
  table.print(std::cout);
}

void runSorrelSet(const SorrelOptions& o) {
  const DataSource source = writableSource(o.source);
  SorrelParams record(source);
  if (!record.setValueString(o.name.c_str(), o.value.c_str()))
    throw WriteError(std::string(describeDataSource(source)) + " refused the write");
  SorrelParams reread(source);
  std::vector<char> buffer(kTextBuffer, '\0');
  reread.getValueString(o.name.c_str(), buffer.data(), kTextBuffer, "");
  if (o.value != buffer.data()) throw WriteError("written, but a new read does not give it back");
  std::cout << o.value << '\n';
}

void registerEdits(CLI::App& app) {
  // alias add|remove join the alias command.
  if (CLI::App* alias = app.get_subcommand("alias")) {
    auto a = std::make_shared<AliasEdit>();
    CLI::App* add = alias->add_subcommand("add", "Add an alias, or change its address");
    add->add_option("ALIAS", a->alias, "The alias (letter case does not matter)")->required();
    add->add_option("ADDRESS", a->address, "The address it stands for")->required();
    add->add_flag("--brix", a->brix, "A Brix alias instead of a VISA alias");
    addSourceOption(*add, a->source);
    add->footer("Example:\n  pda alias add scope2 TCPIP0::192.168.1.21::inst0::INSTR");
    add->callback([a]() { editAlias(*a, false); });

    auto r = std::make_shared<AliasEdit>();
    CLI::App* remove = alias->add_subcommand("remove", "Remove an alias");
    remove->add_option("ALIAS", r->alias, "The alias (letter case does not matter)")->required();
    remove->add_flag("--brix", r->brix, "A Brix alias instead of a VISA alias");
    addSourceOption(*remove, r->source);
    remove->footer("Example:\n  pda alias remove scope2");
    remove->callback([r]() { editAlias(*r, true); });
  }

  if (CLI::App* favorite = app.get_subcommand("favorite")) {
    auto f = std::make_shared<FavoriteEdit>();
    CLI::App* set = favorite->add_subcommand("set", "Mark an instrument as a favourite or not");
    set->add_option("NAME", f->name, "Instrument name as stored, e.g. its VISA address")
        ->required();
    set->add_option("SETTING", f->setting, "on, off or unset")->required();
    addSourceOption(*set, f->source);
    set->footer("Example:\n  pda favorite set TCPIP0::192.168.1.20::inst0::INSTR off");
    set->callback([f]() { editFavorite(*f); });
  }

  CLI::App* config = app.add_subcommand(
      "config", "Show and change the I/O configuration: interfaces and their instruments");
  config->require_subcommand(1);
  auto s = std::make_shared<ConfigOptions>();
  CLI::App* show = config->add_subcommand("show", "The tree, or one record's values");
  show->add_option("INTERFACE", s->interfaceName, "Interface name in the tree, e.g. TCPIP0");
  show->add_option("--instrument", s->instrument, "Instrument name below the interface");
  show->add_flag("--json", s->json, "Print JSON");
  addSourceOption(*show, s->source);
  show->footer("Examples:\n  pda config show\n  pda config show TCPIP0 --json");
  show->callback([s]() { runConfigShow(*s); });

  auto g = std::make_shared<ConfigOptions>();
  CLI::App* get = config->add_subcommand("get", "Print one stored value of a record");
  get->add_option("INTERFACE", g->interfaceName, "Interface name in the tree")->required();
  get->add_option("NAME", g->name, "Value name")->required();
  get->add_option("--instrument", g->instrument, "Instrument name below the interface");
  addSourceOption(*get, g->source);
  get->footer(
      "Example:\n  pda config get USB0 VisaAddress --instrument "
      "USB0::0x2A8D::0x1301::MY53000001::0::INSTR");
  get->callback([g]() { runConfigGet(*g); });

  auto w = std::make_shared<ConfigOptions>();
  CLI::App* set = config->add_subcommand("set", "Write one value of a record");
  set->add_option("INTERFACE", w->interfaceName, "Interface name in the tree")->required();
  set->add_option("NAME", w->name, "Value name")->required();
  set->add_option("VALUE", w->value, "The text to store")->required();
  set->add_option("--instrument", w->instrument, "Instrument name below the interface");
  addSourceOption(*set, w->source);
  set->footer("Example:\n  pda config set TCPIP0 Disabled TRUE");
  set->callback([w]() { runConfigSet(*w); });

  CLI::App* sorrel = app.add_subcommand("sorrel", "List and change the remote-session parameters");
  auto l = std::make_shared<SorrelOptions>();
  sorrel->add_flag("--json", l->json, "Print JSON");
  addSourceOption(*sorrel, l->source);
  auto p = std::make_shared<SorrelOptions>();
  CLI::App* put = sorrel->add_subcommand("set", "Write one interface type's parameter list");
  put->add_option("NAME", p->name, "Interface type, e.g. vxi11Server")->required();
  put->add_option("VALUE", p->value, "Its parameter list")->required();
  addSourceOption(*put, p->source);
  put->footer("Example:\n  pda sorrel set vxi11Server \"host,port\"");
  put->callback([p]() { runSorrelSet(*p); });
  sorrel->footer("Without a sub-command: list the parameters.\nExample:\n  pda sorrel --json");
  sorrel->callback([l, sorrel]() {
    if (sorrel->get_subcommands().empty()) runSorrelList(*l);
  });
}

}  // namespace

// After the alias and favourite groups, whose commands it extends.
PDA_TOOL_COMMANDS("edit", 45, registerEdits);

}  // namespace pdatool

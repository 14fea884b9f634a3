// pda alias resolve NAME [--brix], pda alias list [--visa|--brix]: the alias
// tables through the KestAliases record. A name that is no alias resolves to
// itself, as it does for the programs of the suite; the exit status stays 0
// and the output says so.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Records.h"
#include "StoreHealth.h"
#include "Table.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct AliasOptions {
  SourceOption source;
  std::string name;
  bool visa = false;
  bool brix = false;
  bool json = false;
};

// Large enough for any address; the record never writes a partial text.
const unsigned int kAddressBuffer = 64 * 1024;

void runResolve(const AliasOptions& o) {
  requireReadable(o.source.dataSource());
  KestAliases record(o.source.dataSource());
  std::vector<char> address(kAddressBuffer, '\0');
  const int found = o.brix
                        ? record.unaliasBrixAddress(o.name.c_str(), address.data(), kAddressBuffer)
                        : record.unaliasVisaAddress(o.name.c_str(), address.data(), kAddressBuffer);
  const std::string result = address.data();
  if (o.json) {
    Json doc = Json::object();
    doc["dataSource"] = record.getDataSourceString();
    doc["kind"] = o.brix ? "brix" : "visa";
    doc["name"] = o.name;
    doc["resolved"] = found != 0;
    doc["address"] = result;
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << result << '\n';
  if (!found)
    std::cerr << "pda: '" << o.name << "' is no " << (o.brix ? "Brix" : "VISA") << " alias in "
              << describeDataSource(record.getDataSource()) << "; it stands for itself\n";
}

void runList(const AliasOptions& o) {
  requireReadable(o.source.dataSource());
  KestAliases record(o.source.dataSource());
  const bool both = o.visa == o.brix;
  const std::vector<AliasEntry> entries = listAliases(record, both || o.visa, both || o.brix);
  if (o.json) {
    Json doc = Json::object();
    doc["dataSource"] = record.getDataSourceString();
    Json list = Json::array();
    for (const AliasEntry& e : entries)
      list.push_back(Json{{"kind", e.kind}, {"alias", e.alias}, {"address", e.address}});
    doc["aliases"] = list;
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << "Aliases in " << describeDataSource(record.getDataSource()) << '\n';
  if (entries.empty()) {
    std::cout << "  (none)\n";
    return;
  }
  Table table("  ");
  table.addRow({"KIND", "ALIAS", "ADDRESS"});
  for (const AliasEntry& e : entries) table.addRow({e.kind, e.alias, e.address});
  table.print(std::cout);
}

void registerAlias(CLI::App& app) {
  CLI::App* alias = app.add_subcommand("alias", "Resolve and list VISA and Brix aliases");
  alias->require_subcommand(1);

  auto r = std::make_shared<AliasOptions>();
  CLI::App* resolve = alias->add_subcommand("resolve", "Print the address an alias stands for");
  resolve->add_option("NAME", r->name, "The alias (letter case does not matter)")->required();
  resolve->add_flag("--brix", r->brix, "Look in the Brix aliases instead of the VISA aliases");
  resolve->add_flag("--json", r->json, "Print JSON");
  addSourceOption(*resolve, r->source);
  resolve->footer(
      "Examples:\n  pda alias resolve scope\n  pda alias resolve bench-dmm --brix --json");
  resolve->callback([r]() { runResolve(*r); });

  auto l = std::make_shared<AliasOptions>();
  CLI::App* list = alias->add_subcommand("list", "List the aliases in their stored order");
  auto* visa = list->add_flag("--visa", l->visa, "Only the VISA aliases");
  list->add_flag("--brix", l->brix, "Only the Brix aliases")->excludes(visa);
  list->add_flag("--json", l->json, "Print JSON");
  addSourceOption(*list, l->source);
  list->footer("Examples:\n  pda alias list\n  pda alias list --brix --source registry");
  list->callback([l]() { runList(*l); });
}

}  // namespace

PDA_TOOL_COMMANDS("alias", 30, registerAlias);

}  // namespace pdatool

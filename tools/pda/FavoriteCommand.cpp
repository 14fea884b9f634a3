// pda favorite NAME: whether an instrument is marked as a favourite.

#include <iostream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Records.h"
#include "StoreHealth.h"

namespace pdatool {

namespace {

struct FavoriteOptions {
  SourceOption source;
  std::string name;
  bool json = false;
};

void runFavorite(const FavoriteOptions& o) {
  requireReadable(o.source.dataSource());
  InstrumentFavoritesInfo record(o.source.dataSource());
  const InstrumentFavoriteEnum value = record.getInstrumentFavoriteSetting(o.name.c_str());
  if (o.json) {
    nlohmann::ordered_json doc = nlohmann::ordered_json::object();
    doc["dataSource"] = record.getDataSourceString();
    doc["name"] = o.name;
    doc["favorite"] = favoriteName(value);
    std::cout << doc.dump(2) << '\n';
    return;
  }
  std::cout << favoriteName(value) << '\n';
}

void registerFavorite(CLI::App& app) {
  auto o = std::make_shared<FavoriteOptions>();
  CLI::App* fav = app.add_subcommand("favorite", "Tell whether an instrument is a favourite");
  // Not required: `favorite set` (EditCommands.cpp) is a sub-command of it.
  fav->add_option("NAME", o->name, "Instrument name as stored, e.g. its VISA address");
  fav->add_flag("--json", o->json, "Print JSON");
  addSourceOption(*fav, o->source);
  fav->footer(
      "Prints on, off or \"not set\".\nExample:\n  pda favorite "
      "TCPIP0::192.168.1.20::inst0::INSTR");
  fav->callback([o, fav]() {
    if (!fav->get_subcommands().empty()) return;
    if (o->name.empty()) throw UsageError("favorite needs NAME (or: favorite set NAME on|off)");
    runFavorite(*o);
  });
}

}  // namespace

PDA_TOOL_COMMANDS("favorite", 40, registerFavorite);

}  // namespace pdatool

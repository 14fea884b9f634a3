// pda export, import, copy and diff: a store's whole content as one JSON
// document (see SettingsDocument.h), moved between files and stores.
//
// Decisions:
// - A document's sections replace the store's: after an import the store
//   holds exactly what each section the document carries holds; a section the
//   document lacks is left alone.
// - copy and diff leave the PXI tables out: they live in the SQLite PXI
//   database whichever store is chosen.
// - diff compares what the target would hold after a copy with what it holds,
//   so that `copy` followed by `diff` shows nothing; it exits 1 when they
//   differ, as diff does, without a line on standard error.
// - A document the tool refuses exits 1 (the operation failed), naming the
//   JSON Pointer of the first fault.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "Command.h"
#include "SettingsDocument.h"

namespace pdatool {

namespace {

Store storeOf(DataSource source) {
  switch (source) {
    case RegistryDataSource:
      return Store::Registry;
    case SQLiteDataSource:
      return Store::SQLite;
    default:
      return Store::Defaults;
  }
}

Store chosenStore(const SourceOption& option) {
  const DataSource requested = option.dataSource();
  return storeOf(requested != UnknownDataSource ? requested
                                                : KestRecord::getGlobalDefaultDataSource());
}

std::string readFile(const std::string& path) {
  if (path == "-") {
    std::stringstream text;
    text << std::cin.rdbuf();
    return text.str();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError("cannot read '" + path + "'");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes text whole to a temporary file beside path and renames it into
// place, so that a failed export never leaves half a document.
void writeFile(const std::string& path, const std::string& text) {
  if (path.empty() || path == "-") {
    std::cout << text;
    return;
  }
  const std::string temporary = path + ".pda-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      throw WriteError("cannot write '" + path + "'");
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw WriteError("cannot write '" + path + "'");
  }
}

// Writes the changes (unless dryRun) and prints them; failures throw.
void applyDocument(const Json& prepared, Store target, bool dryRun) {
  const Json current = readStore(target);
  const Json merged = mergeSections(current, prepared);
  const std::vector<Change> changes = compareDocuments(current, merged, false);
  // Printed once written, so that a failed import prints only its error.
  if (!dryRun && !changes.empty()) writeStore(target, prepared);
  for (const Change& c : changes) std::cout << changeLine(c) << '\n';
  if (dryRun) {
    std::cout << changes.size() << " change" << (changes.size() == 1 ? "" : "s")
              << " (dry run: nothing written)\n";
    return;
  }
  std::cout << changes.size() << " change" << (changes.size() == 1 ? "" : "s") << " written to the "
            << storeName(target) << " store\n";
}

void refuseDefaults(Store target) {
  if (target == Store::Defaults)
    throw UsageError("the built-in defaults keep nothing: choose --source registry or sqlite");
}

struct MoveOptions {
  SourceOption source;
  SourceOption from;
  SourceOption to;
  std::string file;
  bool dryRun = false;
  bool json = false;
};

void runExport(const MoveOptions& o) {
  writeFile(o.file, readStore(chosenStore(o.source)).dump(2) + "\n");
}

void runImport(const MoveOptions& o) {
  const Store target = chosenStore(o.source);
  refuseDefaults(target);
  Json doc;
  try {
    doc = parseDocument(readFile(o.file));
    doc = forStore(doc, target, true);
  } catch (const DocumentError& e) {
    throw WriteError(o.file + ": " + e.what() + "; nothing was written");
  }
  applyDocument(doc, target, o.dryRun);
}

void checkPair(const MoveOptions& o) {
  if (o.from.dataSource() == o.to.dataSource())
    throw UsageError("--from and --to name the same store");
}

void runCopy(const MoveOptions& o) {
  checkPair(o);
  const Store target = storeOf(o.to.dataSource());
  refuseDefaults(target);
  Json doc = withoutPxi(readStore(storeOf(o.from.dataSource())));
  try {
    doc = forStore(doc, target, true);
  } catch (const DocumentError& e) {
    throw WriteError(std::string("the ") + storeName(target) + " store cannot hold " + e.what() +
                     "; nothing was written");
  }
  applyDocument(doc, target, o.dryRun);
}

void runDiff(const MoveOptions& o) {
  checkPair(o);
  const Store target = storeOf(o.to.dataSource());
  const Json from = forStore(withoutPxi(readStore(storeOf(o.from.dataSource()))), target, false);
  const Json to = readStore(target);
  const std::vector<Change> changes = compareDocuments(from, to, true);
  if (o.json) {
    Json list = Json::array();
    for (const Change& c : changes) {
      Json entry = Json::object();
      entry["path"] = c.path;
      entry["from"] = c.from ? *c.from : Json();
      entry["to"] = c.to ? *c.to : Json();
      list.push_back(entry);
    }
    std::cout << list.dump(2) << '\n';
  } else {
    for (const Change& c : changes) std::cout << changeLine(c) << '\n';
  }
  if (!changes.empty()) {
    std::cout.flush();
    std::exit(kExitWriteFailed);
  }
}

void addStorePair(CLI::App& command, MoveOptions& o) {
  for (auto* option : {&o.from, &o.to}) {
    const bool isFrom = option == &o.from;
    command
        .add_option(isFrom ? "--from" : "--to", option->name,
                    isFrom ? "The store to read: registry, sqlite or defaults"
                           : "The store to compare with or write: registry, sqlite or defaults")
        ->check(CLI::IsMember({"registry", "sqlite", "defaults"}, CLI::ignore_case))
        ->type_name("STORE")
        ->required();
  }
}

void registerMove(CLI::App& app) {
  auto e = std::make_shared<MoveOptions>();
  CLI::App* exp =
      app.add_subcommand("export", "Write everything a store holds as one JSON document");
  exp->add_option("FILE", e->file, "Where to write it (default: standard output)");
  addSourceOption(*exp, e->source);
  exp->footer(
      "The document holds the global and VISA settings, aliases, favourites, remote-session\n"
      "parameters, the configuration tree and (from SQLite) the PXI tables.\n"
      "Examples:\n  pda export backup.json\n  pda export --source registry | less");
  exp->callback([e]() { runExport(*e); });

  auto i = std::make_shared<MoveOptions>();
  CLI::App* imp =
      app.add_subcommand("import", "Make a store hold what a document holds, all or nothing");
  imp->add_option("FILE", i->file, "The document (- for standard input)")->required();
  imp->add_flag("--dry-run", i->dryRun, "Print what would change and write nothing");
  addSourceOption(*imp, i->source);
  imp->footer(
      "Each section of the document replaces the store's; sections it lacks stay as they are.\n"
      "Examples:\n  pda import backup.json --dry-run\n  pda import backup.json --source sqlite");
  imp->callback([i]() { runImport(*i); });

  auto c = std::make_shared<MoveOptions>();
  CLI::App* copy = app.add_subcommand("copy", "Copy a whole store into another");
  addStorePair(*copy, *c);
  copy->add_flag("--dry-run", c->dryRun, "Print what would change and write nothing");
  copy->footer(
      "Run it before flipping the registry switch, so that nothing falls back to the other\n"
      "store's values. The PXI tables stay where they are (both stores use them).\n"
      "Example:\n  pda copy --from sqlite --to registry");
  copy->callback([c]() { runCopy(*c); });

  auto d = std::make_shared<MoveOptions>();
  CLI::App* diff = app.add_subcommand("diff", "List the values in which two stores differ");
  addStorePair(*diff, *d);
  diff->add_flag("--json", d->json, "Print JSON: [{path, from, to}]");
  diff->footer(
      "One line per value: \"- path: value\" only in --from, \"+ path: value\" only in --to,\n"
      "\"~ path: from -> to\" different. Exit status 1 when they differ, as diff.\n"
      "Example:\n  pda diff --from registry --to sqlite");
  diff->callback([d]() { runDiff(*d); });
}

}  // namespace

PDA_TOOL_COMMANDS("export", 70, registerMove);

}  // namespace pdatool

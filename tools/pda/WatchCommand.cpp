// pda watch [--source S] [NAME...]: prints each change of a store's values as
// it happens, one line each, until interrupted:
//
//   2026-12-06T07:50:01.123Z sqlite globalSettings IOControlHidden "False" -> "True"
//
// time (UTC), store, record (the place in the pda export document), name,
// old -> new; a value that appears or goes shows (none) on its side. The
// library's ChangeWatch wakes the tool when the store changed; the tool then
// reads the whole store again (as pda export does) and prints what differs.
//
// Decisions:
// - NAME filters by value name, without regard to letter case.
// - Ctrl-C ends the watch with exit status 0; a store that can no longer be
//   read ends it with status 1.

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "SettingsDocument.h"

namespace pdatool {

namespace {

std::atomic<ChangeWatch*> _activeWatch{nullptr};

extern "C" void stopWatching(int) {
  if (ChangeWatch* watch = _activeWatch.load()) watch->stop();
}

std::string lower(const std::string& text) {
  std::string out;
  for (char c : text) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string utcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char text[40] = "";
  // The tool has one thread: the C library's static time buffer is safe.
  if (const std::tm* parts = std::gmtime(&seconds))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", parts);
  char withMs[48];
  std::snprintf(withMs, sizeof withMs, "%s.%03lldZ", text, ms);
  return withMs;
}

// The last step of a JSON Pointer, unescaped.
std::string lastName(const std::string& path) {
  std::string step = path.substr(path.rfind('/') + 1);
  std::string out;
  for (std::size_t i = 0; i < step.size(); ++i) {
    if (step[i] == '~' && i + 1 < step.size()) {
      out += step[++i] == '1' ? '/' : '~';
    } else {
      out += step[i];
    }
  }
  return out;
}

struct WatchOptions {
  SourceOption source;
  std::vector<std::string> names;
};

void runWatch(const WatchOptions& o) {
  DataSource source = o.source.dataSource();
  if (source == UnknownDataSource) source = KestRecord::getGlobalDefaultDataSource();
  if (source != RegistryDataSource && source != SQLiteDataSource)
    throw UsageError("the built-in defaults never change: choose --source registry or sqlite");
  const Store store = source == RegistryDataSource ? Store::Registry : Store::SQLite;
  ChangeWatch watch(source);
  if (!watch.isWatching())
    throw WriteError(std::string("cannot watch ") + describeDataSource(source));
  std::vector<std::string> wanted;
  for (const std::string& n : o.names) wanted.push_back(lower(n));

  Json before = readStore(store);
  _activeWatch.store(&watch);
  std::signal(SIGINT, stopWatching);
  std::signal(SIGTERM, stopWatching);
  std::cerr << "pda: watching " << describeDataSource(source) << " (Ctrl-C stops)\n";
  while (watch.waitForChange(ChangeWatch::kForever) == 1) {
    Json after = readStore(store);
    for (const Change& c : compareDocuments(before, after, false)) {
      const std::string name = lastName(c.path);
      bool shown = wanted.empty();
      for (const std::string& w : wanted) shown = shown || w == lower(name);
      if (!shown) continue;
      // Every value sits at least two steps deep.
      const std::string record = c.path.substr(1, c.path.rfind('/') - 1);
      std::cout << utcNow() << ' ' << storeName(store) << ' ' << record << ' ' << name << ' '
                << (c.from ? c.from->dump() : "(none)") << " -> "
                << (c.to ? c.to->dump() : "(none)") << std::endl;
    }
    before = std::move(after);
  }
  _activeWatch.store(nullptr);
}

void registerWatch(CLI::App& app) {
  auto o = std::make_shared<WatchOptions>();
  CLI::App* watch = app.add_subcommand("watch", "Print each change of a store as it happens");
  watch->add_option("NAME", o->names, "Only these value names (letter case does not matter)");
  addSourceOption(*watch, o->source);
  watch->footer(
      "One line per changed value: time (UTC), store, record, name, old -> new.\n"
      "Runs until interrupted (Ctrl-C).\n"
      "Examples:\n  pda watch\n  pda watch --source registry IOControlHidden");
  watch->callback([o]() { runWatch(*o); });
}

}  // namespace

PDA_TOOL_COMMANDS("watch", 75, registerWatch);

}  // namespace pdatool

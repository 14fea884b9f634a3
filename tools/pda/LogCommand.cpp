// pda log [--type error|warning|information|success] [--last N]: the event log
// of the emulated machine, <root>/EventLog/Application.log, one event a line:
// time, pid, source, TYPE, event id, message (line breaks escaped).

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "CommandLine.h"
#include "Table.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct LogOptions {
  std::string type;
  int last = -1;  // -1: every event
  bool json = false;
};

struct Event {
  std::string time, pid, source, type, id, message;  // message still escaped
};

// Undoes the log's escapes: \\, \n, \r, \t.
std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

// A field of digits as a JSON number; anything else stays text.
Json number(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return Json(text);
  return Json(std::stoll(text));
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  // The message is the rest of the line, whatever it holds.
  while (fields.size() < 5) {
    const std::size_t tab = line.find('\t', start);
    if (tab == std::string::npos) break;
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

void runLog(const LogOptions& o) {
#if defined(_WIN32)
  throw UsageError(
      "pda log reads the emulated machine's event log; on Windows use the Event Viewer");
#endif
  const std::string path = machineRoot() + "/EventLog/Application.log";
  std::vector<Event> events;
  std::ifstream in(path);
  // A log that exists but cannot be opened is a failure, not an empty log.
  std::error_code ec;
  if (!in && std::filesystem::exists(path, ec))
    throw WriteError("cannot read the event log '" + path + "': " + std::strerror(errno));
  if (in) {
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::vector<std::string> f = split(line);
      if (f.size() != 6) continue;  // a line cut by a crash; the others still count
      Event e{f[0], f[1], f[2], f[3], f[4], f[5]};
      if (!o.type.empty() && e.type != o.type) continue;
      events.push_back(std::move(e));
    }
    if (in.bad()) throw WriteError("cannot read '" + path + "'");
  }
  if (o.last >= 0 && static_cast<std::size_t>(o.last) < events.size())
    events.erase(events.begin(), events.end() - o.last);

  if (o.json) {
    Json list = Json::array();
    for (const Event& e : events) {
      Json entry = Json::object();
      entry["time"] = e.time;
      entry["pid"] = number(e.pid);
      entry["source"] = unescape(e.source);
      entry["type"] = e.type;
      entry["id"] = number(e.id);
      entry["message"] = unescape(e.message);
      list.push_back(entry);
    }
    std::cout << Json{{"log", path}, {"events", list}}.dump(2) << '\n';
    return;
  }
  if (events.empty()) {
    std::cout << "(no events" << (o.type.empty() ? "" : " of type " + o.type) << " in " << path
              << ")\n";
    return;
  }
  Table table;
  table.addRow({"TIME", "PID", "SOURCE", "TYPE", "ID", "MESSAGE"});
  // The message stays escaped, so that each event is one row.
  for (const Event& e : events) table.addRow({e.time, e.pid, e.source, e.type, e.id, e.message});
  table.print(std::cout);
}

void registerLog(CLI::App& app) {
  auto o = std::make_shared<LogOptions>();
  CLI::App* log = app.add_subcommand("log", "Print the event log of the emulated machine");
  log->add_option("--type", o->type, "Only events of this type")
      ->check(CLI::IsMember({"error", "warning", "information", "success"}, CLI::ignore_case))
      ->transform([](std::string t) {
        for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return t;
      })
      ->type_name("TYPE");
  log->add_option("--last", o->last, "Only the last N events (after the type filter)")
      ->check(wholeNumber(0, 2147483647))
      ->type_name("N");
  log->add_flag("--json", o->json, "Print JSON (messages with their line breaks restored)");
  log->footer("Examples:\n  pda log --type error --last 5\n  pda log --json");
  log->callback([o]() { runLog(*o); });
}

}  // namespace

PDA_TOOL_COMMANDS("log", 70, registerLog);

}  // namespace pdatool

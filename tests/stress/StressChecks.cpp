#include "StressChecks.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "support/Fixtures.h"

namespace stress {

std::map<std::string, std::vector<std::string>> tableRows(const std::string& db,
                                                          const std::string& table) {
  std::map<std::string, std::vector<std::string>> rows;
  const std::string text = pdatest::sqlite(
      db, ".separator \"\\t\"\nSELECT NAME, VALUE FROM " + table + " ORDER BY ID;\n");
  for (const std::string& line : lines(text)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      rows[line].push_back("<no value column>");
      continue;
    }
    rows[line.substr(0, tab)].push_back(line.substr(tab + 1));
  }
  return rows;
}

std::string integrityCheck(const std::string& db) {
  std::string text = pdatest::sqlite(db, "PRAGMA integrity_check;\n");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

int countEvents(const std::string& type, std::string* detail) {
  int count = 0;
  for (const pdatest::Event& e : pdatest::readEvents()) {
    if (e.type != type) continue;
    if (detail && count < 5) *detail += e.source + ": " + e.message + "\n";
    ++count;
  }
  return count;
}

namespace {

bool startsWithAny(const std::string& text, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes)
    if (text.compare(0, std::strlen(prefix), prefix) == 0) return true;
  return false;
}

template <typename Select>
int countSelected(const std::string& type, std::string* detail, Select select) {
  int count = 0;
  for (const pdatest::Event& e : pdatest::readEvents()) {
    if (e.type != type || !select(e.message)) continue;
    if (detail && count < 5) *detail += e.source + ": " + e.message + "\n";
    ++count;
  }
  return count;
}

}  // namespace

int countWriteEvents(const std::string& type, std::string* detail) {
  return countSelected(type, detail, [](const std::string& message) {
    return startsWithAny(message, {"setValueString", "deleteName", "getBeginStmt", "getCommitStmt",
                                   "getRollbackStmt", "tryStep: SetValueString",
                                   "tryStep: setValueString", "tryStep: deleteName"});
  });
}

int countReadEvents(const std::string& type, std::string* detail) {
  return countSelected(type, detail, [](const std::string& message) {
    return startsWithAny(message, {"readTableDataIntoNameValueMap", "rollBackHotJournal",
                                   "tryStep: rollBackHotJournal"});
  });
}

std::vector<Write> parseWrites(const std::string& output) {
  std::vector<Write> writes;
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.size() != 4 || w[0] != "W") continue;
    Write write;
    write.name = w[1];
    write.value = w[2];
    write.result = std::atoi(w[3].c_str());
    writes.push_back(write);
  }
  return writes;
}

std::map<std::string, long long> parseCounts(const std::string& output) {
  std::map<std::string, long long> counts;
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.empty() || w[0] != "R") continue;
    for (std::size_t i = 1; i < w.size(); ++i) {
      const std::size_t eq = w[i].find('=');
      if (eq != std::string::npos) counts[w[i].substr(0, eq)] = std::atoll(w[i].c_str() + eq + 1);
    }
  }
  return counts;
}

std::map<std::string, std::string> parseProbe(const std::string& output) {
  std::map<std::string, std::string> values;
  for (const std::string& line : lines(output)) {
    const std::vector<std::string> w = words(line);
    if (w.size() == 3 && w[0] == "V") values[w[1]] = w[2];
  }
  return values;
}

}  // namespace stress

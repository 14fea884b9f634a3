#pragma once

// What the scenarios check in common: the rows of a table as the sqlite3
// client sees them, the database's own integrity check, the events written
// meanwhile, and the writes that children said they made.

#include <map>
#include <string>
#include <vector>

#include "StressSupport.h"

namespace stress {

// name -> every value stored under it (one per row), read by the sqlite3
// client in row order.
std::map<std::string, std::vector<std::string>> tableRows(const std::string& db,
                                                          const std::string& table);

// What "PRAGMA integrity_check;" answers, without its line break.
std::string integrityCheck(const std::string& db);

// The number of events of the given type ("ERROR", "WARNING", ...) in the
// machine's event log; the first few messages go to detail.
int countEvents(const std::string& type, std::string* detail = nullptr);

// The events of the given type that come from a write (a setter's, its
// delete's, its transaction statements' or its busy retries' reports), and
// those that come from a read (the readers' query reports).
int countWriteEvents(const std::string& type, std::string* detail = nullptr);
int countReadEvents(const std::string& type, std::string* detail = nullptr);

// The writes of one writer's output ("W <name> <value> <result>" lines).
struct Write {
  std::string name;
  std::string value;
  int result = -1;
};
std::vector<Write> parseWrites(const std::string& output);

// The counts of a reader's "R a=1 b=2" line; empty when there is none.
std::map<std::string, long long> parseCounts(const std::string& output);

// The values of a probe's output ("V <name> <value>" lines).
std::map<std::string, std::string> parseProbe(const std::string& output);

}  // namespace stress

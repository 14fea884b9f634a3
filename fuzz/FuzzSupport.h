#pragma once

// What the fuzz targets share: an emulated machine with an installed suite
// for the whole run, a SQLite binding of the target's own (the same library
// the store loads, through the library's run-time binding), and a reader of
// the fuzz input.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pda/SQLiteDynamic.h"

namespace pdafuzz {

// Makes (once per process) a temporary emulated machine with an installed
// suite and the configuration database's tables, and points PDA_ROOT at it.
// The folder is removed when the process exits normally. Returns its path.
const std::string& machine();

// The configuration database of machine().
std::string configDatabase();

// Whether two texts are equal without regard to ASCII letter case: the model
// of the library's name comparison, written apart from it.
bool ciEqual(const std::string& a, const std::string& b);

// Stops the run with a message: a broken property is a finding.
[[noreturn]] void fail(const std::string& what);

// A connection of the target's own to a database, through SQLiteDynamic.
class Database {
 public:
  explicit Database(const std::string& path);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs every statement of sql; fails the run when one fails.
  void exec(const std::string& sql);
  // Runs sql; false when it fails (the statement is then reported nowhere).
  bool tryExec(const std::string& sql);
  // The rows of a query, each column as its text (kNullText for NULL).
  std::vector<std::vector<std::string>> rows(const std::string& sql);

 private:
  SQLiteDynamic _lib;
  sqlite3* _db = nullptr;
};

// An SQL literal for any bytes, NUL included: a text, as CAST(X'..' AS TEXT).
std::string textLiteral(const std::string& bytes);
extern const std::string kNullText;

// Reads the fuzz input piece by piece; past its end every read gives zeros
// and empty texts, so that any input is a complete program.
class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : _p(data), _left(size) {}
  bool done() const { return _left == 0; }
  uint8_t byte();
  uint32_t number(uint32_t bound);  // in [0, bound)
  // Bytes up to the next separator byte 0xFF (not included), or to the end.
  std::string text();
  // Like text(), without NUL bytes (a C string cannot hold them).
  std::string cText();

 private:
  const uint8_t* _p;
  std::size_t _left;
};

}  // namespace pdafuzz

#pragma once

// One prepared statement, owned: finalized when the object goes, on every
// path. Every SQL statement the library runs (reads, writes, the creation of
// the remote PXI database, the usage analytics) and the tool's own database
// access go through it, so no statement is ever left unfinalized (a
// statement left open keeps a read lock that makes every writer fail).

#include <string>

#include "pda/SQLiteDynamic.h"
#include "stores/sqlite/Codes.h"

namespace pda {
namespace sqlite {

class Statement {
 public:
  // Without a binding nothing is ever called: prepare and step answer
  // SQLITE_ERROR.
  explicit Statement(SQLiteDynamic* lib) noexcept : _lib(lib) {}
  ~Statement() { finalize(); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Prepares sql (nByte bytes, the terminating NUL included) on db, once.
  // A statement prepared before is finalized first. On a missing connection
  // the result is SQLITE_MISUSE, without calling the library.
  int prepareOnce(sqlite3* db, const char* sql, int nByte);
  // The same, tried up to 100 times with a 10 ms sleep after each busy or
  // locked result. Nothing is reported: the callers report.
  int prepare(sqlite3* db, const char* sql, int nByte);
  int prepare(sqlite3* db, const std::string& sql) {
    return prepare(db, sql.c_str(), static_cast<int>(sql.size() + 1));
  }

  // One step; SQLITE_MISUSE when nothing is prepared (SQLITE_ERROR without
  // a binding).
  int step() {
    if (!_statement) return _lib ? kMisuse : kError;
    return _lib->sqlite3_step(_statement);
  }
  // Steps up to 100 times while the result is busy or locked, sleeping
  // 10 ms after each; attempts (when given) gets the number of steps made.
  int stepRetrying(int* attempts = nullptr);
  int reset();
  // A column of the current row as text; null for a NULL column. Valid until
  // the next step.
  const char* text(int column) const {
    if (!_statement) return nullptr;
    return reinterpret_cast<const char*>(_lib->sqlite3_column_text(_statement, column));
  }
  // Releases the statement; SQLITE_OK when there was none.
  int finalize();

  // Gives up the statement without finalizing it: its new owner does.
  sqlite3_stmt* release() noexcept {
    sqlite3_stmt* const statement = _statement;
    _statement = nullptr;
    return statement;
  }

  bool prepared() const noexcept { return _statement != nullptr; }
  sqlite3_stmt* get() const noexcept { return _statement; }
  SQLiteDynamic* library() const noexcept { return _lib; }

 private:
  SQLiteDynamic* _lib;
  sqlite3_stmt* _statement = nullptr;
};

// Calls prepare through lib up to 100 times, sleeping 10 ms after each busy
// or locked result. SQLITE_ERROR without a binding, SQLITE_MISUSE without a
// connection, an SQL text or a place for the statement.
int prepareRetrying(SQLiteDynamic* lib, sqlite3* db, const char* sql, int nByte,
                    sqlite3_stmt** statement);

// Steps a statement up to 100 times while the result is busy or locked,
// sleeping 10 ms after each; attempts gets the number of steps made.
int stepRetrying(SQLiteDynamic* lib, sqlite3_stmt* statement, int* attempts);

}  // namespace sqlite
}  // namespace pda

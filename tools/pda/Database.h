#pragma once

// A small helper over the exported run-time SQLite binding: the tool opens
// the suite's databases through the same library that the stores load by
// path, never through a second, linked copy of SQLite.

#include <memory>
#include <string>
#include <vector>

#include <PersistedDataAccess.h>

namespace pdatool {

// SQLite's open flags as the binding passes them through.
enum : int { kOpenReadOnly = 1, kOpenReadWrite = 2, kOpenReadWriteCreate = 6 };

// The system's SQLite library: the one found when the tool was built, or the
// first of the usual places that holds it; "" when there is none.
std::string systemSqliteLibrary();

// The SQLite library of the installed suite (<BaseDir>bin/SQLite.Interop.dll)
// when the suite names one, else the system's.
std::string suiteSqliteLibrary();

typedef std::vector<std::string> Row;  // NULL columns read as ""

class Database {
  friend class DatabaseTransaction;

 public:
  // Loads library and opens path with flags; throws WriteError when either
  // fails, naming the file.
  Database(const std::string& library, const std::string& path, int flags);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs one statement to its end; throws WriteError with SQLite's message.
  void execute(const std::string& sql);
  // Every row of a query; throws WriteError with SQLite's message.
  std::vector<Row> query(const std::string& sql);

 private:
  std::string failure(const std::string& sql, int code);
  SQLiteDynamic _lib;
  sqlite3* _db = nullptr;
  std::string _path;
};

// One transaction on a database, begun at construction: BEGIN IMMEDIATE for
// a write, BEGIN for a read that sees one state of the database. commit()
// ends it; a transaction that goes uncommitted (an exception on the way) is
// rolled back. Throws WriteError when it cannot begin or commit, naming the
// file and SQLite's reason.
class DatabaseTransaction {
 public:
  enum Kind { kWrite, kRead };
  explicit DatabaseTransaction(Database& db, Kind kind = kWrite);
  ~DatabaseTransaction();
  DatabaseTransaction(const DatabaseTransaction&) = delete;
  DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;
  void commit();

 private:
  struct State;
  Database& _db;
  std::unique_ptr<State> _state;
};

// text as an SQL string literal, its single quotes doubled.
std::string sqlText(const std::string& text);

}  // namespace pdatool

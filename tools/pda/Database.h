#pragma once

// A small helper over the exported run-time SQLite binding: the tool opens
// the suite's databases through the same library that the stores load by
// path, never through a second, linked copy of SQLite.

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

// text as an SQL string literal, its single quotes doubled.
std::string sqlText(const std::string& text);

}  // namespace pdatool

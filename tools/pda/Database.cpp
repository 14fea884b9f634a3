#include "Database.h"

#include <filesystem>
#include <system_error>

#include "Command.h"
#include "PlatformSeam.h"
#include "stores/sqlite/Statement.h"
#include "stores/sqlite/Transaction.h"

#ifndef PDA_SQLITE_RUNTIME_LIBRARY
#  define PDA_SQLITE_RUNTIME_LIBRARY ""
#endif

namespace pdatool {

namespace {

const int kSqliteOk = 0;
const int kSqliteBusy = 5;
const int kSqliteRow = 100;
const int kSqliteDone = 101;

// A database that another process holds is tried again for about a second,
// as the stores do, before it counts as locked.

bool isFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(path, ec);
}

}  // namespace

std::string systemSqliteLibrary() {
  if (isFile(PDA_SQLITE_RUNTIME_LIBRARY)) return PDA_SQLITE_RUNTIME_LIBRARY;
#if defined(_WIN32)
  // A Windows installation ships its own library next to the suite; there is
  // no system copy to fall back on.
  return "";
#else
  // The build machine's path may not exist where the tool runs.
  static const char* const kPlaces[] = {"/usr/lib/x86_64-linux-gnu/libsqlite3.so.0",
                                        "/usr/lib/aarch64-linux-gnu/libsqlite3.so.0",
                                        "/usr/lib/i386-linux-gnu/libsqlite3.so.0",
                                        "/lib/x86_64-linux-gnu/libsqlite3.so.0",
                                        "/usr/lib64/libsqlite3.so.0",
                                        "/usr/lib/libsqlite3.so.0",
                                        "/usr/local/lib/libsqlite3.so.0"};
  for (const char* place : kPlaces)
    if (isFile(place)) return place;
  return "";
#endif
}

std::string suiteSqliteLibrary() {
  const std::string base = DirUtilities::getBaseDir();
  if (!base.empty()) {
    std::string lib = base + "bin";
#if defined(_WIN32)
    lib += "\\SQLite.Interop.dll";
#else
    lib += "/SQLite.Interop.dll";
#endif
    if (isFile(lib)) return lib;
  }
  return systemSqliteLibrary();
}

Database::Database(const std::string& library, const std::string& path, int flags)
    : _lib(library.c_str()), _path(path) {
  if (!_lib._hModule) throw WriteError("cannot load the SQLite library '" + library + "'");
  if (_lib._missingCount != 0)
    throw WriteError("the SQLite library '" + library + "' lacks " +
                     std::to_string(_lib._missingCount) + " of its entry points");
  const int rc = _lib.sqlite3_open_v2(path.c_str(), &_db, flags, nullptr);
  if (rc != kSqliteOk) {
    std::string why = _db ? _lib.sqlite3_errmsg(_db) : "out of memory";
    if (_db) _lib.sqlite3_close_v2(_db);
    _db = nullptr;
    throw WriteError("cannot open '" + path + "': " + why);
  }
}

Database::~Database() {
  if (_db) _lib.sqlite3_close_v2(_db);
}

std::string Database::failure(const std::string& sql, int code) {
  std::string why = _lib.sqlite3_errmsg(_db);
  if (why.empty()) why = "error " + std::to_string(code);
  if (code == kSqliteBusy) why += " (another process has held it for more than a second)";
  return "'" + _path + "': " + why + " (in: " + sql + ")";
}

void Database::execute(const std::string& sql) {
  query(sql);
}

// The statement is finalized on every path (a statement left open would
// keep a read lock); a busy database is waited for about a second, at the
// prepare and at the first step.
std::vector<Row> Database::query(const std::string& sql) {
  pda::sqlite::Statement statement(&_lib);
  int rc = statement.prepare(_db, sql);
  if (rc != kSqliteOk) throw WriteError(failure(sql, rc));
  std::vector<Row> rows;
  for (rc = statement.stepRetrying(); rc == kSqliteRow; rc = statement.step()) {
    Row row;
    const int columns = _lib.sqlite3_column_count(statement.get());
    for (int i = 0; i < columns; ++i) {
      const char* text = statement.text(i);
      row.push_back(text ? text : "");
    }
    rows.push_back(std::move(row));
  }
  if (rc != kSqliteDone) throw WriteError(failure(sql, rc));
  return rows;
}

struct DatabaseTransaction::State {
  State(Database& db, const char* begin)
      : statements(&db._lib, db._db, begin),
        text(begin),
        transaction(&db._lib, statements.statements(), nullptr, text) {}
  pda::sqlite::OwnStatements statements;
  const std::string text;
  pda::sqlite::Transaction transaction;
};

DatabaseTransaction::DatabaseTransaction(Database& db, Kind kind)
    : _db(db), _state(new State(db, kind == kWrite ? "BEGIN IMMEDIATE" : "BEGIN")) {
  const std::string what = kind == kWrite ? "BEGIN IMMEDIATE" : "BEGIN";
  if (_state->statements.result() != kSqliteOk)
    throw WriteError(_db.failure(what, _state->statements.result()));
  const int rc = _state->transaction.begin();
  if (rc != kSqliteDone) throw WriteError(_db.failure(what, rc));
}

DatabaseTransaction::~DatabaseTransaction() = default;

void DatabaseTransaction::commit() {
  const int rc = _state->transaction.commit();
  if (rc != kSqliteDone) throw WriteError(_db.failure("COMMIT", rc));
}

std::string sqlText(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

}  // namespace pdatool

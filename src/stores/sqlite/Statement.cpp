#include "stores/sqlite/Statement.h"

#include "platform/platform.h"
#include "stores/sqlite/Codes.h"

namespace pda {
namespace sqlite {

int prepareRetrying(SQLiteDynamic* lib, sqlite3* db, const char* sql, int nByte,
                    sqlite3_stmt** statement) {
  int result = kError;
  for (int attempt = 1; attempt <= kBusyAttempts; ++attempt) {
    if (!lib) return kError;
    if (!db || !sql || !statement) return kMisuse;
    result = lib->sqlite3_prepare_v2(db, sql, nByte, statement, nullptr);
    if (!isBusy(result)) break;
    Sleep(kBusySleepMs);
  }
  return result;
}

int stepRetrying(SQLiteDynamic* lib, sqlite3_stmt* statement, int* attempts) {
  int result = kError;
  int made = 0;
  while (made < kBusyAttempts) {
    ++made;
    if (!lib) {
      result = kError;
    } else if (!statement) {
      result = kMisuse;
    } else {
      result = lib->sqlite3_step(statement);
    }
    if (!isBusy(result)) break;
    Sleep(kBusySleepMs);
  }
  if (attempts) *attempts = made;
  return result;
}

int Statement::prepareOnce(sqlite3* db, const char* sql, int nByte) {
  finalize();
  if (!_lib) return kError;
  if (!db || !sql) return kMisuse;
  const int result = _lib->sqlite3_prepare_v2(db, sql, nByte, &_statement, nullptr);
  if (result != kOk) finalize();  // a failed prepare may still leave a statement
  return result;
}

int Statement::prepare(sqlite3* db, const char* sql, int nByte) {
  finalize();
  const int result = prepareRetrying(_lib, db, sql, nByte, &_statement);
  if (result != kOk) finalize();
  return result;
}

int Statement::stepRetrying(int* attempts) {
  return sqlite::stepRetrying(_lib, _statement, attempts);
}

int Statement::reset() {
  if (!_lib || !_statement) return kOk;
  return _lib->sqlite3_reset(_statement);
}

int Statement::finalize() {
  if (!_statement) return kOk;
  sqlite3_stmt* const statement = _statement;
  _statement = nullptr;
  return _lib ? _lib->sqlite3_finalize(statement) : kOk;
}

}  // namespace sqlite
}  // namespace pda

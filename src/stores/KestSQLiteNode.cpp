// The SQLite store's plumbing for one node: the instance lock, the node's
// file and its connections, the cached transaction statements, the retrying
// prepare and step, result texts and the table of types. The state of the
// process behind it (binding, connections, writers' locks) is in sqlite/.

#include <cstring>
#include <memory>

#include "core/Paths.h"
#include "pda/DirUtilities.h"
#include "pda/KestSQLite.h"
#include "platform/platform.h"
#include "stores/KestSQLiteLock.h"
#include "stores/RecordKinds.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Connections.h"
#include "stores/sqlite/Statement.h"
#include "stores/sqlite/Transaction.h"

using namespace pda::sqlite;

namespace {

const char kSource[] = "SQLite";
const char kLibraryFile[] = "bin" PDA_PATH_SEP "SQLite.Interop.dll";

// Creates the instance locks of nodes that reach their first lock on two
// threads at once; held only for that.
pda::Mutex& lockCreation() {
  static pda::Mutex* const m = new pda::Mutex();
  return *m;
}

}  // namespace

// ---------------------------------------------------------------------------
// The instance lock

// The lock is created at its first use, so two threads that reach a fresh
// node at once still create one lock between them.
void KestSQLite::enterSQLiteCriticalSection() {
  CRITICAL_SECTION* cs;
  {
    pda::MutexLock guard(lockCreation());
    if (!_csInitialized) {
      std::unique_ptr<CRITICAL_SECTION> created(new CRITICAL_SECTION());
      InitializeCriticalSection(created.get());
      _cs = created.release();
      _csInitialized = true;
    }
    cs = static_cast<CRITICAL_SECTION*>(_cs);
  }
  EnterCriticalSection(cs);
}

void KestSQLite::leaveSQLiteCriticalSection() {
  LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(_cs));
}

void KestSQLite::deleteSQLiteCriticalSection() {
  if (!_csInitialized) return;
  CRITICAL_SECTION* cs = static_cast<CRITICAL_SECTION*>(_cs);
  DeleteCriticalSection(cs);
  delete cs;
  _cs = nullptr;
  _csInitialized = false;
}

// ---------------------------------------------------------------------------
// The binding and the connections

// The library path is the base directory joined with "bin/SQLite.Interop.dll"
// (a separator is put in when the base directory lacks one, as the fallback
// "." does). A path that does not fit in 260 bytes is not shortened: it is
// reported in full as a library that cannot be loaded.
void KestSQLite::loadSQLiteDLL() {
  InstanceLock lock(*this);
  // The base directory holds at most 1023 characters, so this buffer always
  // takes the whole path, which the report below gives in full.
  char path[1100];
  pda::buildPath(path, sizeof path, DirUtilities::getBaseDir(), kLibraryFile);
  if (!loadBinding(path)) {
    _lastSQLiteResult = kError;
    logEvent(kSource, kEventError, "loadSQLiteDLL: Unable to load DLL\npath = '%s'\n", path);
  }
}

File* KestSQLite::file() {
  if (_dbPath[0] == '\0') return nullptr;
  if (!_file) _file = &fileAt(_dbPath);
  return _file;
}

sqlite3* KestSQLite::readConnection() {
  File* const f = file();
  return f ? connection(*f, false) : nullptr;
}

// While a missing remote PXI database is being created, its own connection.
sqlite3* KestSQLite::writeConnection() {
  if (_pCreationDb) return _pCreationDb;
  File* const f = file();
  return f ? connection(*f, true) : nullptr;
}

// A node without a database path (see the constructor) opens nothing and
// reports SQLITE_CANTOPEN.
void KestSQLite::getDatabaseConnection(bool readWrite) {
  InstanceLock lock(*this);
  File* const f = file();
  if (f && connection(*f, readWrite)) return;
  loadSQLiteDLL();
  if (!binding()) return;
  const int result = f ? openConnection(*f, readWrite) : kCantOpen;
  _lastSQLiteResult = result;
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getDatabaseConnection: Unable to open SQLiteDll for %s error=%d\n(%s)\n",
             readWrite ? "READWRITE" : "READONLY", result, sqLiteResultMessage(result));
}

// Connections belong to the process: this only finalizes the node's cached
// statements (for readWrite true). Statements of connections that were
// closed meanwhile were finalized with them and are only forgotten here.
void KestSQLite::closeDatabaseConnection(bool readWrite) {
  InstanceLock lock(*this);
  if (!readWrite) return;
  for (sqlite3_stmt** slot : {&_pBeginStmt, &_pCommitStmt, &_pRollbackStmt}) {
    if (!*slot) continue;
    if (_pCreationDb) {
      // Statements of a creation's own connection are finalized before that
      // connection closes; the process never knew them.
      if (SQLiteDynamic* lib = binding()) lib->sqlite3_finalize(*slot);
    } else if (_file) {
      finalizeStatement(*_file, _stmtGeneration, *slot);
    }
    *slot = nullptr;
  }
}

void KestSQLite::closeAllDatabaseConnections() {
  closeAll();
}

// ---------------------------------------------------------------------------
// Cached transaction statements

// Statements of connections that were closed since they were prepared are
// gone: forgotten, never used again.
void KestSQLite::dropStatementsOfClosedConnections() {
  if (_pCreationDb || !_file) return;
  const unsigned generation = generationOf(*_file);
  if (_stmtGeneration == generation) return;
  _pBeginStmt = _pCommitStmt = _pRollbackStmt = nullptr;
  _stmtGeneration = generation;
}

// Prepares text once into slot on the write connection; no retry. Without a
// binding nothing is called: the result is SQLITE_ERROR. Without a connection
// the result is SQLITE_MISUSE, which is what the library answers for one.
int KestSQLite::prepareCached(sqlite3_stmt*& slot, const char* text) {
  file();
  dropStatementsOfClosedConnections();
  if (slot) return kOk;
  Statement statement(binding());
  const int result =
      statement.prepareOnce(writeConnection(), text, static_cast<int>(std::strlen(text) + 1));
  if (result != kOk) return result;
  // The statement is known to the process, so that closing the connection
  // finalizes it. A creation's own connection is closed by the creation,
  // which finalizes the statements first.
  if (!_pCreationDb && _file && !adoptStatement(*_file, _stmtGeneration, statement.get()))
    return kMisuse;  // the connection was closed meanwhile
  slot = statement.release();
  return kOk;
}

sqlite3_stmt* KestSQLite::getBeginStmt() {
  InstanceLock lock(*this);
  int result = prepareCached(_pBeginStmt, "BEGIN IMMEDIATE");
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getBeginStmt: Unable to prepare BEGIN statement. error=%d\n(%s)\n", result,
             sqLiteResultMessage(result));
  return _pBeginStmt;
}

sqlite3_stmt* KestSQLite::getCommitStmt() {
  InstanceLock lock(*this);
  int result = prepareCached(_pCommitStmt, "COMMIT");
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getCommitStmt: Unable to prepare COMMIT statement. error=%d\n(%s)\n", result,
             sqLiteResultMessage(result));
  return _pCommitStmt;
}

sqlite3_stmt* KestSQLite::getRollbackStmt() {
  InstanceLock lock(*this);
  int result = prepareCached(_pRollbackStmt, "ROLLBACK");
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getRollbackStmt: Unable to prepare ROLLBACK statement. error=%d\n(%s)\n", result,
             sqLiteResultMessage(result));
  return _pRollbackStmt;
}

// The three cached statements, each fetched (and reported when it cannot be
// prepared); false when one is missing.
bool KestSQLite::transactionStatements(TransactionStatements& statements) {
  statements.begin = getBeginStmt();
  statements.commit = getCommitStmt();
  statements.rollback = getRollbackStmt();
  return statements.complete();
}

// ---------------------------------------------------------------------------
// Retrying prepare and step

int KestSQLite::tryPrepareV2(sqlite3* db, const char* sql, int nByte, sqlite3_stmt** statement,
                             const char** /*tail: never passed on*/, double* timeout) {
  const int result = prepareRetrying(binding(), db, sql, nByte, statement);
  if (timeout) *timeout = 0.0;
  return result;
}

int KestSQLite::tryStep(sqlite3_stmt* statement, const char* description, double* timeout) {
  const int result =
      pda::sqlite::tryStep(binding(), statement, description, timeout ? *timeout : 10.0);
  if (timeout) *timeout = 0.0;
  return result;
}

// ---------------------------------------------------------------------------
// Result texts, table of types, file time

const char* KestSQLite::sqLiteResultMessage(int result) {
  return resultText(binding(), result);
}

const char* KestSQLite::getLastSQliteResultString() {
  return lastResultText(_lastSQLiteResult);
}

const char* KestSQLite::getTableName() {
  return pda::recordKind(_baseType).table;
}

int KestSQLite::getTableRowCount() {
  return pda::recordKind(_baseType).columns;
}

long long KestSQLite::getFileModificationTime(char* path) {
  return path ? pda::platform::fileModificationTime(path) : 0;
}

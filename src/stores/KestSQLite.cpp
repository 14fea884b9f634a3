// The SQLite store's plumbing: the run-time binding, the per-file
// connections, the instance lock, the cached transaction statements, the
// retrying prepare and step, result texts, construction (with the creation of
// a missing remote PXI database), copying and destruction.

#include "pda/KestSQLite.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "base/Text.h"
#include "core/Paths.h"
#include "pda/DirUtilities.h"
#include "platform/platform.h"
#include "stores/KestSQLiteShared.h"

using namespace pda::sqlite;

namespace {

const char kSource[] = "SQLite";
const char kNoLibraryText[] = "sqlite3 DLL open failed.";
const char kLibraryFile[] = "bin" PDA_PATH_SEP "SQLite.Interop.dll";
const char kConfigDbFile[] = "Quillon.db";
const char kPxiDbFile[] = "RemotePXI.db";

// Process-wide state of the store. It is allocated once and never destroyed:
// closeAllDatabaseConnections runs when the library is unloaded, after the
// destructors of ordinary statics may already have run.
struct ProcessState {
  // Guards everything below, KestSQLite::_pSQLite, the handles inside every
  // pair and each instance's _connections and _cs pointers. Held only for
  // short, non-blocking work (never across a busy wait).
  std::mutex mutex;
  std::map<std::string, pda::SQLiteConnectionPair*> pairs;
  // Every result text handed out, one copy each: a text from the library
  // (sqlite3_errstr) must outlive the library, and a pointer handed to a
  // caller must never change under it. There are only a few dozen texts.
  std::set<std::string> texts;
  const char* lastResultText = nullptr;
  // Raised whenever the connections are closed: a statement prepared under
  // an older generation was finalized with its connection (and perhaps
  // belonged to a released library) and is never used or finalized again.
  unsigned generation = 1;
  // Orders the creation of missing remote PXI databases within the process.
  std::mutex creation;
};

ProcessState& processState() {
  static ProcessState* const state = new ProcessState();
  return *state;
}

// REQUIRES: state.mutex held.
const char* internLocked(ProcessState& state, const char* text) {
  return state.texts.insert(text ? text : "").first->c_str();
}

// The text of a result code. While no library is loaded (none could be, or
// it was released) every code other than 100 and 101 reads "sqlite3 DLL open
// failed.", since no call goes into a library that is not there.
// REQUIRES: state.mutex held, so the library cannot be released while its
// text is copied.
const char* resultTextLocked(ProcessState& state, SQLiteDynamic* lib, int result) {
  if (result == kRow) return "SQLITE_ROW";
  if (result == kDone) return "SQLITE_DONE";
  if (!lib) return internLocked(state, kNoLibraryText);
  return internLocked(state, lib->sqlite3_errstr(result));
}

bool isPxiType(KestBaseType type) {
  return type == ChassisBaseType || type == PModulesBaseType || type == SModulesBaseType ||
         type == PciBusesBaseType;
}

const char* recordTypeOf(KestBaseType type) {
  switch (type) {
    case KestInfoBaseType:
      return "KestInfo";
    case VisaInfoBaseType:
      return "VisaInfo";
    case KestConfigBaseType:
      return "KestConfig";
    case SorrelParamsBaseType:
      return "SorrelParams";
    case AliasBaseType:
      return "Alias";
    case InstrumentFavoritesBaseType:
      return "InstrumentFavorites";
    case ChassisBaseType:
      return "Chassis";
    case PModulesBaseType:
      return "PModules";
    case SModulesBaseType:
      return "SModules";
    case PciBusesBaseType:
      return "PciBus";
  }
  return nullptr;
}

}  // namespace

SQLiteDynamic* KestSQLite::_pSQLite = nullptr;

// ---------------------------------------------------------------------------
// Construction, copying, destruction

KestSQLite* KestSQLite::CreateInstance(KestBaseType type) {
  return new KestSQLite(nullptr, type);
}

KestSQLite::KestSQLite(IKestBase* parent, KestBaseType type) : KestSQLite(parent, type, nullptr) {
  if (isPxiType(type) && _dbPath[0] != '\0' && getFileModificationTime(_dbPath) == 0)
    createRemotePxiDatabase();
}

// The database path is the data directory (types 1 to 6 and any other) or
// the PXI directory (7 to 10) followed directly by the file name. When the
// directory is unknown (the shell cannot name the data folder) or the whole
// path does not fit in 260 bytes, _dbPath stays empty: such a node has no
// database, every attempt to open one fails with SQLITE_CANTOPEN and is
// reported, and nothing is ever created in the working directory or under a
// shortened path.
KestSQLite::KestSQLite(IKestBase* parent, KestBaseType type, const char* dbPath)
    : _dbFileName(isPxiType(type) ? kPxiDbFile : kConfigDbFile),
      _pBeginStmt(nullptr),
      _pCommitStmt(nullptr),
      _pRollbackStmt(nullptr),
      _csInitialized(false),
      _cs(nullptr),
      _lastSQLiteResult(0),
      _baseType(type),
      _connections(nullptr),
      _pCreationDb(nullptr),
      _stmtGeneration(0) {
  _dbPath[0] = '\0';
  _parent = parent;
  if (parent) setParentId(parent->RecordId());
  if (const char* recordType = recordTypeOf(type)) setRecordType(recordType);
  if (dbPath) {
    pda::copyWhole(_dbPath, sizeof _dbPath, dbPath);
  } else {
    const char* dir =
        isPxiType(type) ? DirUtilities::getPxiDataDir() : DirUtilities::getSharedDataDir();
    if (dir && *dir) pda::buildPath(_dbPath, sizeof _dbPath, dir, _dbFileName);
  }
}

KestSQLite::KestSQLite(const KestSQLite& other)
    : IKestBase(other),
      _dbFileName(other._dbFileName),
      _pBeginStmt(nullptr),
      _pCommitStmt(nullptr),
      _pRollbackStmt(nullptr),
      _csInitialized(false),
      _cs(nullptr),
      _lastSQLiteResult(other._lastSQLiteResult),
      _baseType(other._baseType),
      _connections(nullptr),
      _pCreationDb(nullptr),
      _stmtGeneration(0) {
  std::memcpy(_dbPath, other._dbPath, sizeof _dbPath);
}

// The target's own statements are finalized first: they were prepared on the
// read-write connection of the target's file, which need not be the file it
// takes over. The new path finds its own connections at the next use.
KestSQLite& KestSQLite::operator=(const KestSQLite& other) {
  if (this == &other) return *this;
  KestSQLiteLock lock(*this);
  closeDatabaseConnection(true);
  IKestBase::operator=(other);
  _dbFileName = other._dbFileName;
  std::memcpy(_dbPath, other._dbPath, sizeof _dbPath);
  _lastSQLiteResult = other._lastSQLiteResult;
  _baseType = other._baseType;
  std::lock_guard<std::mutex> guard(processState().mutex);
  _connections = nullptr;
  return *this;
}

KestSQLite::~KestSQLite() {
  // A node that never took its lock has no statements and nothing to
  // release; and no other thread can be using a node being destroyed.
  if (_csInitialized) {
    {
      KestSQLiteLock lock(*this);
      if (currentBinding()) {
        closeDatabaseConnection(true);
        closeDatabaseConnection(false);
      }
    }
    deleteSQLiteCriticalSection();
  }
}

// ---------------------------------------------------------------------------
// The instance lock

// The lock is created at its first use. Its creation runs under the process
// mutex, so two threads that reach a fresh instance at once still create one
// lock between them.
void KestSQLite::enterSQLiteCriticalSection() {
  CRITICAL_SECTION* cs;
  {
    std::lock_guard<std::mutex> guard(processState().mutex);
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

SQLiteDynamic* KestSQLite::currentBinding() {
  std::lock_guard<std::mutex> guard(processState().mutex);
  return _pSQLite;
}

// The library path is the base directory joined with "bin/SQLite.Interop.dll"
// (a separator is put in when the base directory lacks one, as the fallback
// "." does). A path that does not fit in 260 bytes is not shortened: it is
// reported in full as a library that cannot be loaded.
void KestSQLite::loadSQLiteDLL() {
  KestSQLiteLock lock(*this);
  // The base directory holds at most 1023 characters, so this buffer always
  // takes the whole path, which the report below gives in full.
  char path[1100];
  pda::buildPath(path, sizeof path, DirUtilities::getBaseDir(), kLibraryFile);
  bool loaded;
  {
    std::lock_guard<std::mutex> guard(processState().mutex);
    if (_pSQLite) return;
    if (std::strlen(path) < sizeof(SQLiteDynamic::_dllPath)) {
      std::unique_ptr<SQLiteDynamic> binding(new SQLiteDynamic(path));
      if (binding->_hModule) _pSQLite = binding.release();
    }
    loaded = _pSQLite != nullptr;
  }
  if (!loaded) {
    _lastSQLiteResult = kError;
    logEvent(kSource, kEventError, "loadSQLiteDLL: Unable to load DLL\npath = '%s'\n", path);
  }
}

pda::SQLiteConnectionPair* KestSQLite::connections() {
  if (_dbPath[0] == '\0') return nullptr;
  ProcessState& state = processState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!_connections) {
    pda::SQLiteConnectionPair*& pair = state.pairs[_dbPath];
    if (!pair) pair = new pda::SQLiteConnectionPair(_dbPath);
    _connections = pair;
  }
  return _connections;
}

sqlite3* KestSQLite::readConnection() {
  std::lock_guard<std::mutex> guard(processState().mutex);
  return _connections ? _connections->readOnly : nullptr;
}

// While a missing remote PXI database is being created, its own connection.
sqlite3* KestSQLite::writeConnection() {
  if (_pCreationDb) return _pCreationDb;
  std::lock_guard<std::mutex> guard(processState().mutex);
  return _connections ? _connections->readWrite : nullptr;
}

// The open is made under the process mutex, so two instances of one file on
// two threads never open two connections for one slot.
void KestSQLite::getDatabaseConnection(bool readWrite) {
  KestSQLiteLock lock(*this);
  ProcessState& state = processState();
  pda::SQLiteConnectionPair* pair = connections();
  if (pair) {
    std::lock_guard<std::mutex> guard(state.mutex);
    if (readWrite ? pair->readWrite : pair->readOnly) return;
  }
  loadSQLiteDLL();
  int result = kCantOpen;
  {
    std::lock_guard<std::mutex> guard(state.mutex);
    if (!_pSQLite) return;
    if (pair) {
      sqlite3*& slot = readWrite ? pair->readWrite : pair->readOnly;
      if (slot) return;
      sqlite3* db = nullptr;
      result = _pSQLite->sqlite3_open_v2(pair->path.c_str(), &db,
                                         readWrite ? kOpenReadWrite : kOpenReadOnly, nullptr);
      if (result != kOk) {
        if (db) _pSQLite->sqlite3_close_v2(db);
        db = nullptr;
      }
      slot = db;
    }
  }
  _lastSQLiteResult = result;
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getDatabaseConnection: Unable to open SQLiteDll for %s error=%d\n(%s)\n",
             readWrite ? "READWRITE" : "READONLY", result, sqLiteResultMessage(result));
}

// Connections belong to the process: this only finalizes the instance's
// cached statements (for readWrite true). Statements of connections that
// closeAllDatabaseConnections has closed were finalized there and are only
// forgotten here.
void KestSQLite::closeDatabaseConnection(bool readWrite) {
  KestSQLiteLock lock(*this);
  if (!readWrite) return;
  ProcessState& state = processState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (_stmtGeneration != state.generation) {
    _pBeginStmt = _pCommitStmt = _pRollbackStmt = nullptr;
    return;
  }
  if (!_pSQLite) return;
  for (sqlite3_stmt** slot : {&_pBeginStmt, &_pCommitStmt, &_pRollbackStmt}) {
    if (!*slot) continue;
    if (_connections) _connections->statements.erase(*slot);
    _pSQLite->sqlite3_finalize(*slot);
    *slot = nullptr;
  }
}

// The statements of closed connections were finalized by
// closeAllDatabaseConnections: they are forgotten, never used again.
void KestSQLite::dropStatementsOfClosedConnections() {
  ProcessState& state = processState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (_stmtGeneration == state.generation) return;
  _pBeginStmt = _pCommitStmt = _pRollbackStmt = nullptr;
  _stmtGeneration = state.generation;
}

// Every cached statement still prepared on a connection is finalized before
// the connection is closed, so the connection is really closed (its file
// released, its memory freed) rather than left waiting for statements that
// would otherwise never be finalized once the library is gone.
void KestSQLite::closeAllDatabaseConnections() {
  ProcessState& state = processState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!_pSQLite) return;
  for (auto& entry : state.pairs) {
    pda::SQLiteConnectionPair* pair = entry.second;
    for (sqlite3_stmt* statement : pair->statements) _pSQLite->sqlite3_finalize(statement);
    pair->statements.clear();
    if (pair->readWrite) _pSQLite->sqlite3_close_v2(pair->readWrite);
    pair->readWrite = nullptr;
    if (pair->readOnly) _pSQLite->sqlite3_close_v2(pair->readOnly);
    pair->readOnly = nullptr;
  }
  ++state.generation;
  _pSQLite->unload();
  delete _pSQLite;
  _pSQLite = nullptr;
}

// ---------------------------------------------------------------------------
// Cached transaction statements

// Prepares text once into slot on the write connection; no retry. Without a
// binding nothing is called: the result is SQLITE_ERROR. Without a connection
// the result is SQLITE_MISUSE, which is what the library answers for one.
int KestSQLite::prepareCached(sqlite3_stmt*& slot, const char* text) {
  dropStatementsOfClosedConnections();
  if (slot) return kOk;
  SQLiteDynamic* lib = currentBinding();
  sqlite3* db = writeConnection();
  if (!lib) return kError;
  if (!db) return kMisuse;
  sqlite3_stmt* statement = nullptr;
  int result = lib->sqlite3_prepare_v2(db, text, static_cast<int>(std::strlen(text) + 1),
                                       &statement, nullptr);
  if (result == kOk) {
    slot = statement;
    // The statements of the shared connection are known to the process, so
    // that closing all connections can finalize them; those of a creation's
    // own connection are finalized before that connection closes.
    if (db != _pCreationDb && _connections) {
      std::lock_guard<std::mutex> guard(processState().mutex);
      _connections->statements.insert(statement);
    }
  } else if (statement) {
    lib->sqlite3_finalize(statement);
  }
  return result;
}

sqlite3_stmt* KestSQLite::getBeginStmt() {
  KestSQLiteLock lock(*this);
  int result = prepareCached(_pBeginStmt, "BEGIN IMMEDIATE");
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getBeginStmt: Unable to prepare BEGIN statement. error=%d\n(%s)\n", result,
             sqLiteResultMessage(result));
  return _pBeginStmt;
}

sqlite3_stmt* KestSQLite::getCommitStmt() {
  KestSQLiteLock lock(*this);
  int result = prepareCached(_pCommitStmt, "COMMIT");
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getCommitStmt: Unable to prepare COMMIT statement. error=%d\n(%s)\n", result,
             sqLiteResultMessage(result));
  return _pCommitStmt;
}

sqlite3_stmt* KestSQLite::getRollbackStmt() {
  KestSQLiteLock lock(*this);
  int result = prepareCached(_pRollbackStmt, "ROLLBACK");
  if (result != kOk)
    logEvent(kSource, kEventError,
             "getRollbackStmt: Unable to prepare ROLLBACK statement. error=%d\n(%s)\n", result,
             sqLiteResultMessage(result));
  return _pRollbackStmt;
}

void KestSQLite::resetTransactionStatements() {
  SQLiteDynamic* lib = currentBinding();
  if (!lib) return;
  for (sqlite3_stmt* statement : {_pBeginStmt, _pCommitStmt, _pRollbackStmt})
    if (statement) lib->sqlite3_reset(statement);
}

// ---------------------------------------------------------------------------
// Retrying prepare and step

// Without a binding nothing is called and the result is SQLITE_ERROR; on a
// missing connection, or without a place for the statement, the result is
// SQLITE_MISUSE (the library's own answer), again without calling it.
int KestSQLite::tryPrepareV2(sqlite3* db, const char* sql, int nByte, sqlite3_stmt** statement,
                             const char** /*tail: never passed on*/, double* timeout) {
  SQLiteDynamic* lib = currentBinding();
  int result = kError;
  for (int attempt = 1; attempt <= kBusyAttempts; ++attempt) {
    if (!lib) {
      result = kError;
    } else if (!db || !statement || !sql) {
      result = kMisuse;
    } else {
      result = lib->sqlite3_prepare_v2(db, sql, nByte, statement, nullptr);
    }
    if (!isBusy(result)) break;
    Sleep(kBusySleepMs);
  }
  if (timeout) *timeout = 0.0;
  return result;
}

// The elapsed time of the report is measured from the first attempt to the
// end of the last sleep.
int KestSQLite::tryStep(sqlite3_stmt* statement, const char* description, double* timeout) {
  const double timeoutValue = timeout ? *timeout : 10.0;
  SQLiteDynamic* lib = currentBinding();
  const double start = pda::platform::monotonicMilliseconds();
  int result = kError;
  int attempts = 0;
  while (attempts < kBusyAttempts) {
    ++attempts;
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
  if (attempts == kBusyAttempts) {
    const double elapsed = pda::platform::monotonicMilliseconds() - start;
    logEvent(kSource, result >= kRow ? kEventWarning : kEventError,
             "tryStep: %s\n Timeout value = %13.6f seconds\n Elapsed time = %13.6f milliseconds\n"
             " tries = %d\n SQLite result=%d\n(%s)\n",
             description ? description : "", timeoutValue, elapsed, attempts, result,
             sqLiteResultMessage(result));
  }
  if (timeout) *timeout = 0.0;
  return result;
}

// ---------------------------------------------------------------------------
// Result texts, table of types, file time

const char* KestSQLite::sqLiteResultMessage(int result) {
  ProcessState& state = processState();
  std::lock_guard<std::mutex> guard(state.mutex);
  return resultTextLocked(state, _pSQLite, result);
}

const char* KestSQLite::getLastSQliteResultString() {
  ProcessState& state = processState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.lastResultText) state.lastResultText = internLocked(state, kNoLibraryText);
  if (_pSQLite) state.lastResultText = resultTextLocked(state, _pSQLite, _lastSQLiteResult);
  return state.lastResultText;
}

const char* KestSQLite::getTableName() {
  switch (_baseType) {
    case KestInfoBaseType:
      return "KestInfo";
    case VisaInfoBaseType:
      return "VisaInfo";
    case KestConfigBaseType:
    case AliasBaseType:
      return "ConfigData";
    case SorrelParamsBaseType:
      return "SorrelParamInfo";
    case InstrumentFavoritesBaseType:
      return "InstrumentFavorites";
    case ChassisBaseType:
      return "Chassis";
    case PModulesBaseType:
      return "PModules";
    case SModulesBaseType:
      return "SModules";
    case PciBusesBaseType:
      return "PciBuses";
  }
  return "";
}

int KestSQLite::getTableRowCount() {
  switch (_baseType) {
    case KestInfoBaseType:
    case VisaInfoBaseType:
    case SorrelParamsBaseType:
    case InstrumentFavoritesBaseType:
    case PciBusesBaseType:
      return 3;
    case KestConfigBaseType:
    case AliasBaseType:
    case ChassisBaseType:
    case PModulesBaseType:
    case SModulesBaseType:
      return 4;
  }
  return 0;
}

long long KestSQLite::getFileModificationTime(char* path) {
  return path ? pda::platform::fileModificationTime(path) : 0;
}

// ---------------------------------------------------------------------------
// Creation of a missing remote PXI database

// How the file comes into being: the PXI directory is made, then the file is
// created empty and exclusively (an empty file is an empty database), so that
// of two processes that both find it missing only the one that created it
// builds its tables, and only that one ever deletes it again. The tables are
// built on a connection of the creation's own, opened with
// READWRITE|CREATE on exactly that path, and the instance's statements
// prepared on it are finalized and the connection closed when the creation
// ends; so no connection of the process is left on a file that a failed
// creation deletes (a file that is still open could not be deleted on
// Windows either). Within the process the creation is ordered by a mutex,
// so a second instance waits and then finds the finished file.
void KestSQLite::createRemotePxiDatabase() {
  ProcessState& state = processState();
  std::lock_guard<std::mutex> creating(state.creation);
  if (getFileModificationTime(_dbPath) != 0) return;

  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(_dbPath).parent_path(), ignored);
  if (FILE* claim = std::fopen(_dbPath, "wbx")) {
    std::fclose(claim);
  } else if (getFileModificationTime(_dbPath) != 0) {
    return;  // another process created it first
  }
  // Otherwise the exclusive mode is not available here, or the folder cannot
  // be written: SQLite itself creates the file or reports why it cannot.

  KestSQLiteLock lock(*this);
  loadSQLiteDLL();
  SQLiteDynamic* lib = currentBinding();
  if (lib) {
    sqlite3* db = nullptr;
    int result = lib->sqlite3_open_v2(_dbPath, &db, kOpenReadWrite | kOpenCreate, nullptr);
    _lastSQLiteResult = result;
    if (result == kOk) {
      _pCreationDb = db;
    } else {
      if (db) lib->sqlite3_close_v2(db);
      logEvent(kSource, kEventError,
               "getDatabaseConnection: Unable to open SQLiteDll for %s error=%d\n(%s)\n",
               "READWRITE", result, sqLiteResultMessage(result));
    }
  }

  static const struct {
    const char* table;
    const char* failure;
  } kTables[] = {
      {"Chassis", "KestSQLite(): Failed to create remote PXI chassis table.\n"},
      {"PModules", "KestSQLite(): Failed to create remote 'PModules' table.\n"},
      {"SModules", "KestSQLite(): Failed to create remote 'SModules' table.\n"},
      {"PciBuses", "KestSQLite(): Failed to create remote 'Pcibuses' table.\n"},
  };
  const char* failure = kTables[0].failure;
  if (_pCreationDb) {
    failure = nullptr;
    for (const auto& table : kTables) {
      if (!createPxiInfoTable(table.table)) {
        failure = table.failure;
        break;
      }
    }
  }
  if (failure) logEvent(kSource, kEventError, "%s", failure);

  if (_pCreationDb) {
    closeDatabaseConnection(true);
    lib->sqlite3_close_v2(_pCreationDb);
    _pCreationDb = nullptr;
  }
  if (failure) std::remove(_dbPath);
}

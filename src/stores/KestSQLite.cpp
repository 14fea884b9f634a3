// The SQLite store's node: construction (with the creation of a missing
// remote PXI database), copying and destruction. Reading is in
// KestSQLiteRead.cpp, writing in KestSQLiteWrite.cpp, the node's plumbing in
// KestSQLiteNode.cpp and the state of the process in sqlite/.

#include "pda/KestSQLite.h"

#include <cstring>

#include "base/Text.h"
#include "core/Paths.h"
#include "pda/DirUtilities.h"
#include "stores/KestSQLiteLock.h"
#include "stores/RecordKinds.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Connections.h"

using namespace pda::sqlite;

namespace {
const char kSource[] = "SQLite";
}  // namespace

KestSQLite* KestSQLite::CreateInstance(KestBaseType type) {
  return new KestSQLite(nullptr, type);
}

KestSQLite::KestSQLite(IKestBase* parent, KestBaseType type) : KestSQLite(parent, type, nullptr) {
  if (pda::recordKind(type).remotePxi && _dbPath[0] != '\0' &&
      getFileModificationTime(_dbPath) == 0)
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
    : _dbFileName(pda::recordKind(type).databaseFile),
      _pBeginStmt(nullptr),
      _pCommitStmt(nullptr),
      _pRollbackStmt(nullptr),
      _csInitialized(false),
      _cs(nullptr),
      _lastSQLiteResult(0),
      _baseType(type),
      _file(nullptr),
      _pCreationDb(nullptr),
      _stmtGeneration(0) {
  _dbPath[0] = '\0';
  _parent = parent;
  if (parent) setParentId(parent->RecordId());
  const char* recordType = pda::recordKind(type).recordType;
  if (*recordType) setRecordType(recordType);
  if (dbPath) {
    pda::copyWhole(_dbPath, sizeof _dbPath, dbPath);
  } else {
    const char* dir = pda::recordKind(type).remotePxi ? DirUtilities::getPxiDataDir()
                                                      : DirUtilities::getSharedDataDir();
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
      _file(nullptr),
      _pCreationDb(nullptr),
      _stmtGeneration(0),
      _readKey(other._readKey) {
  std::memcpy(_dbPath, other._dbPath, sizeof _dbPath);
}

// The target's own statements are finalized first: they were prepared on the
// read-write connection of the target's file, which need not be the file it
// takes over. The new path finds its own connections at the next use.
KestSQLite& KestSQLite::operator=(const KestSQLite& other) {
  if (this == &other) return *this;
  InstanceLock lock(*this);
  closeDatabaseConnection(true);
  IKestBase::operator=(other);
  _dbFileName = other._dbFileName;
  std::memcpy(_dbPath, other._dbPath, sizeof _dbPath);
  _lastSQLiteResult = other._lastSQLiteResult;
  _baseType = other._baseType;
  _readKey = other._readKey;
  _file = nullptr;
  return *this;
}

KestSQLite::~KestSQLite() {
  // A node that never took its lock has no statements and nothing to
  // release; and no other thread can be using a node being destroyed.
  if (_csInitialized) {
    {
      InstanceLock lock(*this);
      if (binding()) {
        closeDatabaseConnection(true);
        closeDatabaseConnection(false);
      }
    }
    deleteSQLiteCriticalSection();
  }
}

// ---------------------------------------------------------------------------
// Creation of a missing remote PXI database

namespace {

struct PxiTable {
  const char* table;
  const char* failure;
};

const PxiTable kPxiTables[] = {
    {"Chassis", "KestSQLite(): Failed to create remote PXI chassis table.\n"},
    {"PModules", "KestSQLite(): Failed to create remote 'PModules' table.\n"},
    {"SModules", "KestSQLite(): Failed to create remote 'SModules' table.\n"},
    {"PciBuses", "KestSQLite(): Failed to create remote 'Pcibuses' table.\n"},
};

}  // namespace

// Builds the four tables, in order, on the new database's own connection,
// with this node's cached statements prepared on it; the statements are
// finalized before the connection closes. Reports the first table that
// fails.
bool KestSQLite::buildRemotePxiDatabase(sqlite3* db, void* context) {
  KestSQLite& node = *static_cast<KestSQLite*>(context);
  node._pCreationDb = db;
  const PxiTable* failed = nullptr;
  for (const PxiTable& table : kPxiTables) {
    if (!node.createPxiInfoTable(table.table)) {
      failed = &table;
      break;
    }
  }
  node.closeDatabaseConnection(true);
  node._pCreationDb = nullptr;
  if (failed) logEvent(kSource, kEventError, "%s", failed->failure);
  return failed == nullptr;
}

// The new file is built aside and put in place only when complete (see
// createMissingDatabase), so the node's own lock is taken first, above the
// creation lock, as everywhere.
void KestSQLite::createRemotePxiDatabase() {
  InstanceLock lock(*this);
  loadSQLiteDLL();
  if (!binding()) {
    logEvent(kSource, kEventError, "%s", kPxiTables[0].failure);
    return;
  }
  int opened = kOk;
  createMissingDatabase(fileAt(_dbPath), &KestSQLite::buildRemotePxiDatabase, this, &opened);
  if (opened != kOk) {
    _lastSQLiteResult = opened;
    logEvent(kSource, kEventError,
             "getDatabaseConnection: Unable to open SQLiteDll for %s error=%d\n(%s)\n", "READWRITE",
             opened, sqLiteResultMessage(opened));
    logEvent(kSource, kEventError, "%s", kPxiTables[0].failure);
  }
}

#include <cstddef>
#include <memory>
#include <string>

#include "base/Text.h"
#include "core/Paths.h"
#include "pda/DirUtilities.h"
#include "pda/SQLiteDynamic.h"
#include "pda/VISAUsageStorage.h"
#include "platform/platform.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Connections.h"
#include "stores/sqlite/Statement.h"

namespace {

// Every report of the analytics goes to the event log under this source, as
// information, whatever went wrong: a lost usage row is not an error of the
// program that made it.
const char* const kSource = "SQLite";
const unsigned short kInformation = 4;

const int kSqliteOk = 0;
const int kSqliteCantOpen = 14;
const int kSqliteTooBig = 18;
const int kOpenReadWrite = 2;  // without the create flag: the file must exist

// Statement buffers. A statement is built whole first and only copied into
// its buffer when it fits with its terminator; one that does not fit is never
// cut short (a cut could leave a half value or drop the closing quote) but
// fails the add with its failed-to-add report.
const std::size_t kVisaStatementSize = 1024;
const std::size_t kSorrelStatementSize = 256;

constexpr char kFileName[] = "DataAnalytics.db";
constexpr char kVisaCTable[] = "VISACAccess";
constexpr char kVisaComTable[] = "VISACOMAccess";
constexpr char kVisaNetTable[] = "VISANETAccess";
constexpr char kSorrelTable[] = "SorrelSessionAccess";

constexpr char kFailedVisa[] = "SQLiteVISAUsageStorage: Failed to add VISA usage to %s.";
constexpr char kFailedSorrel[] =
    "SQLiteVISAUsageStorage: Failed to add sorrel session usage to %s.";

// The failure reports name one of our own fixed tables, so they always fit
// the 100 and 256 bytes their texts are allowed; nothing is ever cut.
static_assert(sizeof(kFailedVisa) - 2 + sizeof(kVisaNetTable) - 1 < 100 &&
                  sizeof(kFailedVisa) - 2 + sizeof(kVisaComTable) - 1 < 100,
              "VISA failure report must fit 100 bytes");
static_assert(sizeof(kFailedSorrel) - 2 + sizeof(kSorrelTable) - 1 < 256,
              "session failure report must fit 256 bytes");

}  // namespace

SQLiteVISAUsageStorage::SQLiteVISAUsageStorage(const char* path)
    : VISAUsageStorage(),
      databaseFileName(kFileName),
      visaCTable(kVisaCTable),
      visaComTable(kVisaComTable),
      visaNetTable(kVisaNetTable),
      sorrelTable(kSorrelTable),
      sqlite(nullptr),
      connection(nullptr),
      lastResult(0) {
  databasePath[0] = '\0';
  // databasePath stays "" (and the object opens nothing) when:
  // - the caller's path does not fit 260 bytes with its terminator: opening
  //   its first 259 characters would write to some other file;
  // - the caller passes "": SQLite would open a private temporary database
  //   and the rows would vanish with the connection;
  // - no path is given and the data directory is unknown: the bare file name
  //   would be looked up in whatever the current directory happens to be.
  if (path) {
    pda::copyWhole(databasePath, sizeof databasePath, path);
  } else {
    const char* dir = DirUtilities::getSharedDataDir();
    if (dir && *dir) pda::buildPath(databasePath, sizeof databasePath, dir, databaseFileName);
  }
}

// Copies never share the binding or the connection: each object closes what
// it holds, so sharing would close one connection twice and release the
// library under the other copy's feet. The copy opens its own at its first add.
SQLiteVISAUsageStorage::SQLiteVISAUsageStorage(const SQLiteVISAUsageStorage& other)
    : VISAUsageStorage(other),
      databaseFileName(kFileName),
      visaCTable(kVisaCTable),
      visaComTable(kVisaComTable),
      visaNetTable(kVisaNetTable),
      sorrelTable(kSorrelTable),
      sqlite(nullptr),
      connection(nullptr),
      lastResult(other.lastResult) {
  pda::copyWhole(databasePath, sizeof databasePath, other.databasePath);
}

SQLiteVISAUsageStorage& SQLiteVISAUsageStorage::operator=(const SQLiteVISAUsageStorage& other) {
  if (this == &other) return *this;
  // Our own connection may point at another file than the one we take over.
  CloseDBConnection();
  VISAUsageStorage::operator=(other);
  pda::copyWhole(databasePath, sizeof databasePath, other.databasePath);
  lastResult = other.lastResult;
  return *this;
}

SQLiteVISAUsageStorage::~SQLiteVISAUsageStorage() {
  CloseDBConnection();
}

const char* SQLiteVISAUsageStorage::tableName(VISAUsageType type) const noexcept {
  switch (type) {
    case VISACUsage:
      return visaCTable;
    case VISACOMUsage:
      return visaComTable;
    case VISANETUsage:
      return visaNetTable;
  }
  return visaCTable;
}

bool SQLiteVISAUsageStorage::CreateSQLite() {
  if (sqlite) return true;

  // buildPath puts a separator after a base directory that lacks one (the
  // "." fallback when no base directory is registered) and refuses a path
  // that does not fit, so no shortened library path is ever loaded.
  char libraryPath[260];
  std::unique_ptr<SQLiteDynamic> binding;
  if (pda::buildPath(libraryPath, sizeof libraryPath, DirUtilities::getBaseDir(),
                     "bin" PDA_PATH_SEP "SQLite.Interop.dll")) {
    binding.reset(new SQLiteDynamic(libraryPath));
    if (!binding->_hModule) binding.reset();
  }
  if (!binding) {
    lastResult = 1;
    logEvent(kSource, kInformation, "SQLiteVISAUsageStorage: Failed to create SQLite.");
    return false;
  }
  sqlite = binding.release();
  return true;
}

void SQLiteVISAUsageStorage::OpenDBConnection() {
  if (connection) return;
  if (!CreateSQLite()) return;

  if (databasePath[0] == '\0') {
    // An unusable path (see the constructor) is reported as a file that
    // cannot be opened, at every add.
    lastResult = kSqliteCantOpen;
    logEvent(kSource, kInformation, "SQLiteVISAUsageStorage: Failed to open SQLite connection.");
    return;
  }

  sqlite3* db = nullptr;
  const int rc = sqlite->sqlite3_open_v2(databasePath, &db, kOpenReadWrite, nullptr);
  lastResult = rc;
  if (rc != kSqliteOk) {
    // SQLite hands out a handle even for a failed open; it must be closed.
    if (db) sqlite->sqlite3_close_v2(db);
    connection = nullptr;
    logEvent(kSource, kInformation, "SQLiteVISAUsageStorage: Failed to open SQLite connection.");
    return;
  }
  connection = db;
}

void SQLiteVISAUsageStorage::CloseDBConnection() noexcept {
  if (!sqlite) return;
  // A null connection closes as success.
  const int rc = sqlite->sqlite3_close_v2(connection);
  lastResult = rc;
  if (rc != kSqliteOk) {
    // The report must not keep the library from being released.
    try {
      logEvent(kSource, kInformation,
               "SQLiteVISAUsageStorage: Failed to close SQLite connection..");
    } catch (...) {
    }
  }
  connection = nullptr;
  sqlite->unload();
  delete sqlite;
  sqlite = nullptr;
}

namespace {

// Prepares, steps and finalizes one statement on the connection. The
// statement is copied into a cleared buffer of bufferSize bytes and prepared
// with that byte limit, so SQLite never reads past the buffer. The prepare
// and the step are each tried up to 100 times while the database is busy
// (another process writing), with a 10 ms sleep after each busy result.
// Returns whether the statement was prepared and run; a row that the
// database still did not take is reported with its statement and the
// reason, and the call still counts as made (the analytics lose a row
// rather than fail their caller). Every SQLite result lands in lastResult,
// the finalize last.
bool runStatement(SQLiteDynamic& lib, sqlite3* db, const std::string& sql, std::size_t bufferSize,
                  int& lastResult) {
  if (sql.size() >= bufferSize) {
    lastResult = kSqliteTooBig;
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[bufferSize]());
  sql.copy(buffer.get(), sql.size());

  pda::sqlite::Statement statement(&lib);
  const int prepared = statement.prepare(db, buffer.get(), static_cast<int>(bufferSize));
  if (prepared != kSqliteOk) {
    lastResult = prepared;
    return false;
  }
  const int stepped = statement.stepRetrying();
  lastResult = stepped;
  if (stepped != pda::sqlite::kDone)
    logEvent(kSource, kInformation, "SQLiteVISAUsageStorage: Usage row lost: '%s'\nerror=%d\n(%s)",
             sql.c_str(), stepped, pda::sqlite::resultText(&lib, stepped));
  lastResult = statement.finalize();
  return true;
}

}  // namespace

bool SQLiteVISAUsageStorage::AddVisaUsageRecord(VISAUsageType type, const char* accessTime,
                                                const char* processName) {
  const char* table = tableName(type);
  OpenDBConnection();

  // A null process name fails like a null time: a usage row without the
  // process it counts is worth nothing, and the caller learns of the mistake.
  if (!sqlite || !connection || !accessTime || !processName) {
    logEvent(kSource, kInformation,
             "SQLiteVISAUsageStorage: Parameter is null when AddVisaUsageRecord.");
  } else {
    // Values stand between single quotes with their quotes doubled: they are
    // stored as passed and cannot end their literal early.
    const std::string sql =
        pda::format("insert into %s (ProcessName, AccessTime) values('%s', '%s')", table,
                    pda::sqlLiteral(processName).c_str(), pda::sqlLiteral(accessTime).c_str());
    if (runStatement(*sqlite, connection, sql, kVisaStatementSize, lastResult)) return true;
  }
  logEvent(kSource, kInformation, kFailedVisa, table);
  return false;
}

bool SQLiteVISAUsageStorage::AddVISACUsageRecord(const char* accessTime, const char* processName) {
  try {
    return AddVisaUsageRecord(VISACUsage, accessTime, processName);
  } catch (...) {
    return false;
  }
}

bool SQLiteVISAUsageStorage::AddVISACOMUsageRecord(const char* accessTime,
                                                   const char* processName) {
  try {
    return AddVisaUsageRecord(VISACOMUsage, accessTime, processName);
  } catch (...) {
    return false;
  }
}

bool SQLiteVISAUsageStorage::AddVISANETUsageRecord(const char* accessTime,
                                                   const char* processName) {
  try {
    return AddVisaUsageRecord(VISANETUsage, accessTime, processName);
  } catch (...) {
    return false;
  }
}

bool SQLiteVISAUsageStorage::AddSorrelSessionUsageRecord(const char* sessionType, int usageCount,
                                                         const char* statisticsTime) {
  try {
    OpenDBConnection();
    // A null session type fails with the null-parameter report, as a null
    // time does: a count that belongs to no session type cannot be read back.
    if (!sqlite || !connection || !sessionType || !statisticsTime) {
      logEvent(kSource, kInformation,
               "SQLiteVISAUsageStorage: Parameter is null when AddSorrelSessionUsageRecord.");
    } else {
      const std::string sql = pda::format(
          "insert into %s (SessionType, UsageCount, StatisticsTime) values('%s', %d, '%s')",
          sorrelTable, pda::sqlLiteral(sessionType).c_str(), usageCount,
          pda::sqlLiteral(statisticsTime).c_str());
      if (runStatement(*sqlite, connection, sql, kSorrelStatementSize, lastResult)) return true;
    }
    logEvent(kSource, kInformation, kFailedSorrel, sorrelTable);
    return false;
  } catch (...) {
    return false;
  }
}

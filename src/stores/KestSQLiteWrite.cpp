// Writing the SQLite store: each value is replaced inside one transaction on
// the read-write connection of the node's file (BEGIN IMMEDIATE, delete the
// old rows, insert the new row, COMMIT, or ROLLBACK when a step fails), and
// the tables of a new remote PXI database are created with its bus rows.
//
// Statement texts. Names, values and record keys stand between single quotes
// with every single quote in them doubled (pda::sqlLiteral), so no text can
// end its literal early or change what a statement does, and a text without
// quotes reaches the database exactly as the statement formats give it.
// Statements are built in std::string whatever their length and run whole:
// a long value is stored as it is, never shortened and never refused for its
// length (SQLite itself refuses a statement beyond its own limit, and that
// failure is reported like any other prepare failure).

#include <cstring>
#include <mutex>

#include "base/Text.h"
#include "pda/DirUtilities.h"
#include "platform/platform.h"
#include "stores/KestSQLiteShared.h"

using namespace pda::sqlite;

namespace {

const char kSource[] = "SQLite";

// The step, reset and finalize of statements already prepared. Without a
// binding nothing is called: a step answers SQLITE_ERROR, the others succeed
// (there can be no statement to release then).
int stepOnce(SQLiteDynamic* lib, sqlite3_stmt* statement) {
  if (!lib) return kError;
  if (!statement) return kMisuse;
  return lib->sqlite3_step(statement);
}

int finalizeOnce(SQLiteDynamic* lib, sqlite3_stmt* statement) {
  if (!lib || !statement) return kOk;
  return lib->sqlite3_finalize(statement);
}

}  // namespace

pda::WriterFileLock::WriterFileLock(SQLiteConnectionPair* pair) : _pair(pair) {
  if (_pair && _pair->writerDepth++ == 0)
    _pair->writerFileLock = pda::platform::lockFile((_pair->path + "-lock").c_str());
}

pda::WriterFileLock::~WriterFileLock() {
  if (_pair && --_pair->writerDepth == 0) {
    pda::platform::unlockFile(_pair->writerFileLock);
    _pair->writerFileLock = nullptr;
  }
}

// The record key of a row written through this node. For the PXI tables and
// the aliases it is the node's RecordId (the PXI engine sets it to the
// chassis serial number before writing). A configuration record read from
// "ConfigData" is named by its "VISAName" or "VisaAddress", but its own values
// are selected by its persistent id; its rows are written under that
// persistent id, so that what is written through the node is what the node
// reads back and is grouped with the record's other rows. A configuration
// node without a persistent id (the root) uses its RecordId.
std::string KestSQLite::recordKey() const {
  if (_baseType == KestConfigBaseType && !_persistentId.empty()) return _persistentId;
  return _recordId;
}

int KestSQLite::setValueBool(const char* name, int value) {
  return setValueString(name, value != 0 ? "True" : "False");
}

int KestSQLite::setValueInt32(const char* name, int value) {
  char buffer[256] = {};
  std::snprintf(buffer, sizeof buffer, "%d", value);
  return setValueString(name, buffer);
}

// A null or empty name is refused with 0 before the database is touched: a
// row without a name is skipped by every read, so it could never be read
// back. A null value is stored as "".
//
// The node is read before the transaction, and the value it held is put back
// when the transaction is rolled back: the delete inside the transaction has
// already removed the name from the node's map by then, and a failed write
// must leave the node as it was, like the database.
int KestSQLite::setValueString(const char* name, const char* const value) {
  if (!name || !*name) return 0;
  const char* const text = value ? value : "";
  initializeNameValueMap();

  getDatabaseConnection(true);
  KestSQLiteLock lock(*this);
  sqlite3_stmt* const begin = getBeginStmt();
  sqlite3_stmt* const commit = getCommitStmt();
  sqlite3_stmt* const rollback = getRollbackStmt();
  if (!begin || !commit || !rollback) return 0;

  const std::string insert =
      getTableRowCount() == 3
          ? pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s');", getTableName(),
                        pda::sqlLiteral(name).c_str(), pda::sqlLiteral(text).c_str())
          : pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s', '%s');", getTableName(),
                        pda::sqlLiteral(recordKey().c_str()).c_str(), pda::sqlLiteral(name).c_str(),
                        pda::sqlLiteral(text).c_str());

  // The statements were prepared on this file's read-write connection, so
  // the pair exists. Its lock keeps the transaction whole against the
  // transactions of other instances of the process on that connection.
  std::unique_lock<std::recursive_mutex> transaction(connections()->transaction);
  pda::WriterFileLock writers(connections());
  SQLiteDynamic* const lib = currentBinding();

  int result = 0;
  int rc = tryStep(begin, "SetValueString BEGIN IMMEDIATE", nullptr);
  if (rc != kDone) {
    logEvent(kSource, kEventError, "setValueString: BEGIN '%s' failed.\nerror=%d\n(%s)\n",
             insert.c_str(), rc, sqLiteResultMessage(rc));
  } else {
    const auto held = _nameValueMap.find(name);
    const bool hadValue = held != _nameValueMap.end();
    const std::string oldName = hadValue ? held->first : std::string();
    const std::string oldValue = hadValue ? held->second : std::string();

    if (deleteName(name) != 0) {
      sqlite3_stmt* statement = nullptr;
      rc = tryPrepareV2(writeConnection(), insert.c_str(), static_cast<int>(insert.size() + 1),
                        &statement, nullptr, nullptr);
      if (rc != kOk) {
        logEvent(kSource, kEventError,
                 "setValueString: prepare of Command '%s' failed.\nBEGIN error=%d\n(%s)\n",
                 insert.c_str(), rc, sqLiteResultMessage(rc));
      } else {
        rc = stepOnce(lib, statement);
        if (rc != kDone) {
          logEvent(kSource, kEventError, "setValueString: INSERT '%s' failed.\nerror=%d\n(%s)\n",
                   insert.c_str(), rc, sqLiteResultMessage(rc));
        } else {
          rc = tryStep(commit, "setValueString COMMIT", nullptr);
          if (rc != kDone) {
            logEvent(kSource, kEventError, "setValueString: COMMIT '%s' failed.\nerror=%d\n(%s)\n",
                     insert.c_str(), rc, sqLiteResultMessage(rc));
          } else {
            result = IKestBase::setValueString(name, text);
          }
        }
      }
      finalizeOnce(lib, statement);
    }

    if (result != 1) {
      rc = stepOnce(lib, rollback);
      logEvent(kSource, rc == kDone ? kEventWarning : kEventError,
               "setValueString: ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n", insert.c_str(), rc,
               sqLiteResultMessage(rc));
      if (hadValue) _nameValueMap[oldName] = oldValue;
    }
  }
  resetTransactionStatements();
  return result;
}

// Outside a write (the PXI engine deletes directly) the DELETE commits by
// itself; it holds the file's transaction lock all the same, so that it never
// runs inside another instance's open transaction on the shared connection.
// Inside setValueString the lock is already held by this thread.
int KestSQLite::deleteName(const char* name) {
  if (!name) return 0;
  // Read first, so that the node takes the change below without a lazy fill
  // inside the transaction lock.
  initializeNameValueMap();
  getDatabaseConnection(true);

  const std::string sql = getTableRowCount() == 3
                              ? pda::format("DELETE FROM %s WHERE NAME = '%s';", getTableName(),
                                            pda::sqlLiteral(name).c_str())
                              : pda::format("DELETE FROM %s WHERE NAME = '%s' AND IDKEY = '%s';",
                                            getTableName(), pda::sqlLiteral(name).c_str(),
                                            pda::sqlLiteral(recordKey().c_str()).c_str());

  pda::SQLiteConnectionPair* const pair = connections();
  std::unique_lock<std::recursive_mutex> transaction;
  if (pair) transaction = std::unique_lock<std::recursive_mutex>(pair->transaction);
  pda::WriterFileLock writers(pair);
  SQLiteDynamic* const lib = currentBinding();

  sqlite3_stmt* statement = nullptr;
  int rc = tryPrepareV2(writeConnection(), sql.c_str(), static_cast<int>(sql.size() + 1),
                        &statement, nullptr, nullptr);
  if (rc != kOk) {
    logEvent(kSource, kEventError, "deleteName: Command '%s' failed.\nerror=%d\n(%s)\n",
             sql.c_str(), rc, sqLiteResultMessage(rc));
    finalizeOnce(lib, statement);
    return 0;
  }

  int result = 0;
  rc = tryStep(statement, "deleteName", nullptr);
  if (rc == kDone) {
    _nameValueMap.erase(name);
    result = 1;
  } else {
    logEvent(kSource, kEventError, "deleteName: DELETE statement failed.\nerror=%d\n(%s)\n", rc,
             sqLiteResultMessage(rc));
  }
  rc = finalizeOnce(lib, statement);
  if (rc != kOk)
    logEvent(kSource, kEventError,
             "deleteName: finalize of DELETE statement failed.\nerror=%d\n(%s)\n", rc,
             sqLiteResultMessage(rc));
  return result;
}

// Runs only while the constructor creates a missing remote PXI database, on
// the creation's own connection, which nothing else in the process uses; so
// it takes no transaction lock. tableName is one of the four table names of
// that database, never a caller's text.
int KestSQLite::createPxiInfoTable(const char* tableName) {
  sqlite3_stmt* const begin = getBeginStmt();
  sqlite3_stmt* const commit = getCommitStmt();
  sqlite3_stmt* const rollback = getRollbackStmt();
  if (!begin || !commit || !rollback) return 0;
  SQLiteDynamic* const lib = currentBinding();

  const bool busTable = std::strstr(tableName, "Pci") != nullptr;
  const std::string create =
      busTable ? pda::format(
                     "CREATE TABLE %s(%s INTEGER PRIMARY KEY, %s TEXT NOT NULL, %s TEXT NOT NULL);",
                     tableName, "ID", "NAME", "VALUE")
               : pda::format(
                     "CREATE TABLE %s(%s INTEGER PRIMARY KEY, %s TEXT NOT NULL, %s TEXT NOT NULL, "
                     "%s TEXT NOT NULL);",
                     tableName, "ID", "IDKEY", "NAME", "VALUE");

  auto rollBack = [&](const std::string& statementText) {
    const int rolledBack = stepOnce(lib, rollback);
    logEvent(kSource, rolledBack == kDone ? kEventWarning : kEventError,
             "createPxiInfoTable(): ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n",
             statementText.c_str(), rolledBack, sqLiteResultMessage(rolledBack));
  };

  int result = 0;
  int rc = tryStep(begin, "createPxiInfoTable() BEGIN IMMEDIATE", nullptr);
  if (rc != kDone) {
    logEvent(kSource, kEventError, "createPxiInfoTable(): BEGIN '%s' failed.\nerror=%d\n(%s)\n",
             create.c_str(), rc, sqLiteResultMessage(rc));
  } else {
    sqlite3_stmt* statement = nullptr;
    rc = tryPrepareV2(writeConnection(), create.c_str(), static_cast<int>(create.size() + 1),
                      &statement, nullptr, nullptr);
    if (rc != kOk) {
      logEvent(kSource, kEventError,
               "createPxiInfoTable(): prepare of Command '%s' failed.\nBEGIN error=%d\n(%s)\n",
               create.c_str(), rc, sqLiteResultMessage(rc));
    } else {
      rc = stepOnce(lib, statement);
      if (rc == kDone) {
        rc = tryStep(commit, "createPxiInfoTable() COMMIT", nullptr);
        if (rc == kDone) {
          result = 1;
        } else {
          logEvent(kSource, kEventError,
                   "createPxiInfoTable(): COMMIT '%s' failed.\nerror=%d\n(%s)\n", create.c_str(),
                   rc, sqLiteResultMessage(rc));
        }
      } else {
        logEvent(kSource, kEventError, "createPxiInfoTable(): '%s' failed.\nerror=%d\n(%s)\n",
                 create.c_str(), rc, sqLiteResultMessage(rc));
      }
    }
    finalizeOnce(lib, statement);
    if (result != 1) rollBack(create);
  }
  resetTransactionStatements();
  if (result == 0) return 0;
  if (!busTable) return 1;

  // The bus rows, one transaction each. The transaction statements are
  // reset after every row, so that each row starts from fresh statements.
  for (int bus = 0; bus < 20; bus += 2) {
    const std::string insert = pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s');", "PciBuses",
                                           pda::format("Bus%d", bus).c_str(), "0");
    rc = tryStep(begin, "INSERT into PciBuses table BEGIN IMMEDIATE", nullptr);
    if (rc != kDone) {
      logEvent(kSource, kEventError, "createPxiInfoTable(): BEGIN '%s' failed.\nerror=%d\n(%s)\n",
               insert.c_str(), rc, sqLiteResultMessage(rc));
      resetTransactionStatements();
      return 0;
    }
    sqlite3_stmt* statement = nullptr;
    rc = tryPrepareV2(writeConnection(), insert.c_str(), static_cast<int>(insert.size() + 1),
                      &statement, nullptr, nullptr);
    if (rc != kOk) {
      logEvent(kSource, kEventError,
               "createPxiInfoTable(): prepare of Command '%s' failed.\nBEGIN error=%d\n(%s)\n",
               insert.c_str(), rc, sqLiteResultMessage(rc));
      finalizeOnce(lib, statement);
      rollBack(insert);
      resetTransactionStatements();
      return 0;
    }
    bool committed = false;
    rc = stepOnce(lib, statement);
    if (rc == kDone) {
      rc = tryStep(commit, "INSERT into PciBuses table COMMIT", nullptr);
      if (rc == kDone) {
        committed = true;
        logEvent(kSource, kEventInformation,
                 "createPxiInfoTable(): COMMIT '%s' succeeded.\nresult=%d\n(%s)\n", insert.c_str(),
                 rc, sqLiteResultMessage(rc));
      } else {
        logEvent(kSource, kEventError,
                 "createPxiInfoTable(): COMMIT '%s' failed.\nerror=%d\n(%s)\n", insert.c_str(), rc,
                 sqLiteResultMessage(rc));
      }
    } else {
      logEvent(kSource, kEventError, "createPxiInfoTable(): '%s' failed.\nerror=%d\n(%s)\n",
               insert.c_str(), rc, sqLiteResultMessage(rc));
    }
    finalizeOnce(lib, statement);
    if (!committed) rollBack(insert);
    resetTransactionStatements();
    if (!committed) return 0;
  }
  return 1;
}

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
//
// Order. A write takes the node's lock, then formats its statement with the
// record key the node has at that moment, runs its transaction, and only
// after COMMIT brings the node's values up to date (reading the node first
// if it was never read). So two threads writing through one node are
// serialised from start to end, and the node's first read never runs
// outside the lock or inside a transaction.

#include <cstring>
#include <memory>
#include <set>

#include "base/Text.h"
#include "pda/DirUtilities.h"
#include "pda/KestSQLite.h"
#include "stores/KestSQLiteLock.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Connections.h"
#include "stores/sqlite/Statement.h"
#include "stores/sqlite/Transaction.h"

using namespace pda::sqlite;

namespace {

const char kSource[] = "SQLite";

const TransactionReports kSetValueReports = {
    "SetValueString BEGIN IMMEDIATE",
    "setValueString COMMIT",
    "setValueString: BEGIN '%s' failed.\nerror=%d\n(%s)\n",
    "setValueString: COMMIT '%s' failed.\nerror=%d\n(%s)\n",
    "setValueString: ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n",
    &storeTryStep,
    &storeReport,
};

const TransactionReports kCreateTableReports = {
    "createPxiInfoTable() BEGIN IMMEDIATE",
    "createPxiInfoTable() COMMIT",
    "createPxiInfoTable(): BEGIN '%s' failed.\nerror=%d\n(%s)\n",
    "createPxiInfoTable(): COMMIT '%s' failed.\nerror=%d\n(%s)\n",
    "createPxiInfoTable(): ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n",
    &storeTryStep,
    &storeReport,
};

const TransactionReports kBusRowReports = {
    "INSERT into PciBuses table BEGIN IMMEDIATE",
    "INSERT into PciBuses table COMMIT",
    "createPxiInfoTable(): BEGIN '%s' failed.\nerror=%d\n(%s)\n",
    "createPxiInfoTable(): COMMIT '%s' failed.\nerror=%d\n(%s)\n",
    "createPxiInfoTable(): ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n",
    &storeTryStep,
    &storeReport,
};

}  // namespace

// The record key of a row written through this node: the key a
// configuration record was read under, since that is the key under which
// every reader, in this process or another, finds the record's rows again
// (a record's persistent id and its key need not be the same text); for
// every other node its RecordId (the PXI engine sets it to the chassis
// serial number before writing; a caller may set the key of an alias node).
std::string KestSQLite::recordKey() const {
  return _readKey.empty() ? _recordId : _readKey;
}

// Commits holding the file's reading lock: the process's threads share one
// read connection, and while any of them has a read under way the commit
// cannot take the database; reads that follow each other on that connection
// could keep it from the commit for longer than its bound. Holding the
// lock, the commit waits for the read under way only. (Order: the writers'
// locks come before the reading lock, and no read takes a writers' lock
// while it holds the reading lock.)
bool KestSQLite::commitHoldingReads(pda::sqlite::Transaction& transaction) {
  File* const f = file();
  if (!f) return transaction.commit() == kDone;
  pda::MutexLock reads(f->reading);
  return transaction.commit() == kDone;
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
int KestSQLite::setValueString(const char* name, const char* const value) {
  if (!name || !*name) return 0;
  const char* const text = value ? value : "";

  getDatabaseConnection(true);
  InstanceLock lock(*this);
  TransactionStatements statements;
  if (!transactionStatements(statements)) return 0;

  const std::string key = recordKey();
  const std::string insert =
      getTableRowCount() == 3
          ? pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s');", getTableName(),
                        pda::sqlLiteral(name).c_str(), pda::sqlLiteral(text).c_str())
          : pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s', '%s');", getTableName(),
                        pda::sqlLiteral(key.c_str()).c_str(), pda::sqlLiteral(name).c_str(),
                        pda::sqlLiteral(text).c_str());

  SQLiteDynamic* const lib = binding();
  bool committed = false;
  {
    WriterLock writers(file());
    Transaction transaction(lib, statements, &kSetValueReports, insert);
    if (!writers.held()) {
      // The process's other writers of the file kept it for the whole
      // second: this write meets a busy database, as it would at BEGIN.
      logEvent(kSource, kEventError, kSetValueReports.beginFailed, insert.c_str(), kBusy,
               sqLiteResultMessage(kBusy));
    } else if (transaction.begin() == kDone && deleteRows(name, key) != 0) {
      Statement statement(lib);
      int rc = statement.prepare(writeConnection(), insert);
      if (rc != kOk) {
        logEvent(kSource, kEventError,
                 "setValueString: prepare of Command '%s' failed.\nBEGIN error=%d\n(%s)\n",
                 insert.c_str(), rc, sqLiteResultMessage(rc));
      } else if ((rc = statement.step()) != kDone) {
        logEvent(kSource, kEventError, "setValueString: INSERT '%s' failed.\nerror=%d\n(%s)\n",
                 insert.c_str(), rc, sqLiteResultMessage(rc));
      } else {
        statement.finalize();
        committed = commitHoldingReads(transaction);
      }
    }
  }
  if (!committed) return 0;
  // The node takes the value in the spelling just written; a node never read
  // is read first (the database has the value already).
  return IKestBase::setValueString(name, text);
}

// Outside a write (the PXI engine deletes directly) the DELETE commits by
// itself; it holds the file's writers' locks all the same, so that it never
// runs inside another node's open transaction on the shared connection.
int KestSQLite::deleteName(const char* name) {
  if (!name) return 0;
  getDatabaseConnection(true);
  InstanceLock lock(*this);
  const std::string key = recordKey();
  int result;
  {
    WriterLock writers(file());
    if (!writers.held()) {
      logEvent(kSource, kEventError, "deleteName: DELETE statement failed.\nerror=%d\n(%s)\n",
               kBusy, sqLiteResultMessage(kBusy));
      return 0;
    }
    // Outside a transaction the DELETE commits by itself: no read of the
    // process may keep the database from it meanwhile (see commitHoldingReads).
    std::unique_ptr<pda::MutexLock> reads;
    if (File* const f = file()) reads.reset(new pda::MutexLock(f->reading));
    result = deleteRows(name, key);
  }
  if (result != 1) return result;
  return IKestBase::deleteName(name);
}

// Deletes the rows of name (of the record key in a keyed table) in every
// letter case in which the table holds it, since a reader takes every such
// row as that name: the spellings are looked up first, and each is deleted
// with the DELETE statement's own text. Returns 1 for success (also when
// there was no row), 0 after reporting a failure. Leaves the node's values
// to the caller.
int KestSQLite::deleteRows(const char* name, const std::string& key) {
  const bool keyed = getTableRowCount() != 3;
  const std::string keyCondition =
      keyed ? pda::format(" AND IDKEY = '%s'", pda::sqlLiteral(key.c_str()).c_str()) : "";
  SQLiteDynamic* const lib = binding();

  // SQLite's NOCASE folds the letters A to Z, as the library's own name
  // comparison does. A look-up that fails leaves the name as given: its
  // DELETE then meets the same fault and reports it.
  std::set<std::string> spellings = {name};
  {
    const std::string lookup =
        pda::format("SELECT DISTINCT NAME FROM %s WHERE NAME = '%s' COLLATE NOCASE%s;",
                    getTableName(), pda::sqlLiteral(name).c_str(), keyCondition.c_str());
    Statement statement(lib);
    int rc = statement.prepare(writeConnection(), lookup);
    while (rc == kOk || rc == kRow) {
      rc = statement.stepRetrying();
      if (rc == kRow && statement.text(0)) spellings.insert(statement.text(0));
    }
  }

  for (const std::string& spelling : spellings) {
    const std::string sql =
        keyed ? pda::format("DELETE FROM %s WHERE NAME = '%s' AND IDKEY = '%s';", getTableName(),
                            pda::sqlLiteral(spelling.c_str()).c_str(),
                            pda::sqlLiteral(key.c_str()).c_str())
              : pda::format("DELETE FROM %s WHERE NAME = '%s';", getTableName(),
                            pda::sqlLiteral(spelling.c_str()).c_str());
    Statement statement(lib);
    int rc = statement.prepare(writeConnection(), sql);
    if (rc != kOk) {
      logEvent(kSource, kEventError, "deleteName: Command '%s' failed.\nerror=%d\n(%s)\n",
               sql.c_str(), rc, sqLiteResultMessage(rc));
      return 0;
    }
    rc = pda::sqlite::tryStep(lib, statement.get(), "deleteName", 10.0);
    const bool deleted = rc == kDone;
    if (!deleted)
      logEvent(kSource, kEventError, "deleteName: DELETE statement failed.\nerror=%d\n(%s)\n", rc,
               sqLiteResultMessage(rc));
    rc = statement.finalize();
    if (rc != kOk)
      logEvent(kSource, kEventError,
               "deleteName: finalize of DELETE statement failed.\nerror=%d\n(%s)\n", rc,
               sqLiteResultMessage(rc));
    if (!deleted) return 0;
  }
  return 1;
}

// Runs while the constructor creates a missing remote PXI database, on the
// creation's own connection, which nothing else in the process uses; so it
// takes no writers' lock. tableName is one of the four table names of that
// database, never a caller's text.
int KestSQLite::createPxiInfoTable(const char* tableName) {
  TransactionStatements statements;
  if (!transactionStatements(statements)) return 0;
  SQLiteDynamic* const lib = binding();

  const bool busTable = std::strstr(tableName, "Pci") != nullptr;
  const std::string create =
      busTable ? pda::format(
                     "CREATE TABLE %s(%s INTEGER PRIMARY KEY, %s TEXT NOT NULL, %s TEXT NOT NULL);",
                     tableName, "ID", "NAME", "VALUE")
               : pda::format(
                     "CREATE TABLE %s(%s INTEGER PRIMARY KEY, %s TEXT NOT NULL, %s TEXT NOT NULL, "
                     "%s TEXT NOT NULL);",
                     tableName, "ID", "IDKEY", "NAME", "VALUE");

  // Runs one statement (the CREATE, or one bus row) inside a transaction of
  // its own; true when it was committed.
  auto runAlone = [&](const std::string& text, const TransactionReports& reports) {
    Transaction transaction(lib, statements, &reports, text);
    if (transaction.begin() != kDone) return false;
    Statement statement(lib);
    int rc = statement.prepare(writeConnection(), text);
    if (rc != kOk) {
      logEvent(kSource, kEventError,
               "createPxiInfoTable(): prepare of Command '%s' failed.\nBEGIN error=%d\n(%s)\n",
               text.c_str(), rc, sqLiteResultMessage(rc));
      return false;
    }
    rc = statement.step();
    if (rc != kDone) {
      logEvent(kSource, kEventError, "createPxiInfoTable(): '%s' failed.\nerror=%d\n(%s)\n",
               text.c_str(), rc, sqLiteResultMessage(rc));
      return false;
    }
    statement.finalize();
    return transaction.commit() == kDone;
  };

  if (!runAlone(create, kCreateTableReports)) return 0;
  if (!busTable) return 1;

  // The bus rows, one transaction each.
  for (int bus = 0; bus < 20; bus += 2) {
    const std::string insert = pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s');", "PciBuses",
                                           pda::format("Bus%d", bus).c_str(), "0");
    if (!runAlone(insert, kBusRowReports)) return 0;
    logEvent(kSource, kEventInformation,
             "createPxiInfoTable(): COMMIT '%s' succeeded.\nresult=%d\n(%s)\n", insert.c_str(),
             kDone, sqLiteResultMessage(kDone));
  }
  return 1;
}

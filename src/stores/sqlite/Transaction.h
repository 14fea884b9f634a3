#pragma once

// One write transaction: BEGIN IMMEDIATE, the caller's statements, then
// COMMIT; a transaction that was begun and not committed is rolled back when
// the object goes, on every path. The ladder of every write of the library
// (the store's writes, the creation of the remote PXI database) and of the
// tool's own database access is this one class.

#include <string>

#include "pda/SQLiteDynamic.h"
#include "stores/sqlite/Statement.h"

namespace pda {
namespace sqlite {

// How a kind of write reports its transaction to the event log (source
// "SQLite"). The three report formats take the statement text of the
// write, a result and that result's text. BEGIN and COMMIT are stepped with
// tryStep and these descriptions.
struct TransactionReports {
  const char* beginDescription;
  const char* commitDescription;
  const char* beginFailed;   // "...BEGIN '%s' failed.\nerror=%d\n(%s)\n"
  const char* commitFailed;  // "...COMMIT '%s' failed.\nerror=%d\n(%s)\n"
  const char* rollback;      // "...ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n"
};

// The BEGIN IMMEDIATE, COMMIT and ROLLBACK statements of a transaction,
// prepared by their owner (a node caches its own) or by OwnStatements.
struct TransactionStatements {
  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* commit = nullptr;
  sqlite3_stmt* rollback = nullptr;
  bool complete() const noexcept { return begin && commit && rollback; }
};

class Transaction {
 public:
  // With reports, BEGIN and COMMIT are retried and reported (tryStep) and
  // every failure is reported with the statement text; without, BEGIN and
  // COMMIT are retried silently and the caller reads the results.
  Transaction(SQLiteDynamic* lib, const TransactionStatements& statements,
              const TransactionReports* reports, const std::string& statementText);
  // Rolls back a transaction that was begun and not committed (one step of
  // ROLLBACK, reported: a warning when it completed, an error otherwise),
  // then resets the three statements so that they can run again.
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // SQLITE_DONE when the transaction is open.
  int begin();
  // SQLITE_DONE when the transaction is committed; anything else leaves it
  // to be rolled back.
  int commit();

 private:
  SQLiteDynamic* _lib;
  TransactionStatements _statements;
  const TransactionReports* _reports;
  const std::string& _text;
  bool _open = false;
};

// The three statements of a transaction, prepared on db and finalized with
// the object: for callers that keep no statements of their own.
class OwnStatements {
 public:
  OwnStatements(SQLiteDynamic* lib, sqlite3* db);
  OwnStatements(const OwnStatements&) = delete;
  OwnStatements& operator=(const OwnStatements&) = delete;
  // The first failed prepare's result, or SQLITE_OK.
  int result() const noexcept { return _result; }
  TransactionStatements statements() const;

 private:
  Statement _begin, _commit, _rollback;
  int _result;
};

}  // namespace sqlite
}  // namespace pda

#pragma once

// One write transaction: BEGIN IMMEDIATE, the caller's statements, then
// COMMIT; a transaction that was begun and not committed is rolled back when
// the object goes, on every path. The ladder of every write of the library
// (the store's writes, the creation of the remote PXI database) and of the
// tool's own database access is this one class. Header-only and free of the
// library's internals, so that the pda tool compiles it too.

#include <string>

#include "pda/SQLiteDynamic.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Statement.h"

namespace pda {
namespace sqlite {

// How a kind of write reports its transaction. The three report formats
// take the statement text of the write, a result and that result's text;
// BEGIN and COMMIT are stepped with tryStep and these descriptions. The
// store's writes fill in its own step and report (sqlite/Connections.h).
struct TransactionReports {
  const char* beginDescription;
  const char* commitDescription;
  const char* beginFailed;   // "...BEGIN '%s' failed.\nerror=%d\n(%s)\n"
  const char* commitFailed;  // "...COMMIT '%s' failed.\nerror=%d\n(%s)\n"
  const char* rollback;      // "...ROLLBACK '%s'.\nROLLBACK result=%d\n(%s)\n"
  // Steps with retries and reports a step that stayed busy.
  int (*tryStep)(SQLiteDynamic* lib, sqlite3_stmt* statement, const char* description);
  // Reports format (event type 1 error, 2 warning) with the statement
  // text, a result and its text.
  void (*report)(SQLiteDynamic* lib, unsigned short type, const char* format,
                 const std::string& text, int result);
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
  // With reports, BEGIN and COMMIT are retried and reported and every
  // failure is reported with the statement text; without, BEGIN and COMMIT
  // are retried silently and the caller reads the results.
  Transaction(SQLiteDynamic* lib, const TransactionStatements& statements,
              const TransactionReports* reports, const std::string& statementText)
      : _lib(lib), _statements(statements), _reports(reports), _text(statementText) {}
  // Rolls back a transaction that was begun and not committed (one step of
  // ROLLBACK, reported: a warning when it completed, an error otherwise),
  // then resets the three statements so that they can run again.
  ~Transaction() {
    if (_open) {
      const int result = _lib && _statements.rollback ? _lib->sqlite3_step(_statements.rollback)
                                                      : (_lib ? kMisuse : kError);
      if (_reports)
        _reports->report(_lib, result == kDone ? kEventWarning : kEventError, _reports->rollback,
                         _text, result);
    }
    if (_lib)
      for (sqlite3_stmt* statement : {_statements.begin, _statements.commit, _statements.rollback})
        if (statement) _lib->sqlite3_reset(statement);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // SQLITE_DONE when the transaction is open.
  int begin() {
    const int result = step(_statements.begin, _reports ? _reports->beginDescription : nullptr);
    _open = result == kDone;
    if (!_open && _reports)
      _reports->report(_lib, kEventError, _reports->beginFailed, _text, result);
    return result;
  }
  // SQLITE_DONE when the transaction is committed; anything else leaves it
  // to be rolled back.
  int commit() {
    const int result = step(_statements.commit, _reports ? _reports->commitDescription : nullptr);
    if (result == kDone)
      _open = false;
    else if (_reports)
      _reports->report(_lib, kEventError, _reports->commitFailed, _text, result);
    return result;
  }

 private:
  int step(sqlite3_stmt* statement, const char* description) {
    return _reports ? _reports->tryStep(_lib, statement, description)
                    : stepRetrying(_lib, statement, nullptr);
  }

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
  // begin is the text of the first statement: "BEGIN IMMEDIATE" for a
  // write, "BEGIN" for a read that sees one state of the database.
  OwnStatements(SQLiteDynamic* lib, sqlite3* db, const char* begin = "BEGIN IMMEDIATE")
      : _begin(lib), _commit(lib), _rollback(lib), _result(kOk) {
    _result = _begin.prepare(db, std::string(begin));
    if (_result == kOk) _result = _commit.prepare(db, std::string("COMMIT"));
    if (_result == kOk) _result = _rollback.prepare(db, std::string("ROLLBACK"));
  }
  OwnStatements(const OwnStatements&) = delete;
  OwnStatements& operator=(const OwnStatements&) = delete;
  // The first failed prepare's result, or SQLITE_OK.
  int result() const noexcept { return _result; }
  TransactionStatements statements() const {
    TransactionStatements s;
    s.begin = _begin.get();
    s.commit = _commit.get();
    s.rollback = _rollback.get();
    return s;
  }

 private:
  Statement _begin, _commit, _rollback;
  int _result;
};

}  // namespace sqlite
}  // namespace pda

#include "stores/sqlite/Transaction.h"

#include "pda/DirUtilities.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Connections.h"

namespace pda {
namespace sqlite {

namespace {
const char kSource[] = "SQLite";
}

Transaction::Transaction(SQLiteDynamic* lib, const TransactionStatements& statements,
                         const TransactionReports* reports, const std::string& statementText)
    : _lib(lib), _statements(statements), _reports(reports), _text(statementText) {}

int Transaction::begin() {
  const int result = _reports ? tryStep(_lib, _statements.begin, _reports->beginDescription, 10.0)
                              : stepRetrying(_lib, _statements.begin, nullptr);
  _open = result == kDone;
  if (!_open && _reports)
    logEvent(kSource, kEventError, _reports->beginFailed, _text.c_str(), result,
             resultText(_lib, result));
  return result;
}

int Transaction::commit() {
  const int result = _reports ? tryStep(_lib, _statements.commit, _reports->commitDescription, 10.0)
                              : stepRetrying(_lib, _statements.commit, nullptr);
  if (result == kDone) {
    _open = false;
  } else if (_reports) {
    logEvent(kSource, kEventError, _reports->commitFailed, _text.c_str(), result,
             resultText(_lib, result));
  }
  return result;
}

Transaction::~Transaction() {
  if (_open) {
    const int result = _lib && _statements.rollback ? _lib->sqlite3_step(_statements.rollback)
                                                    : (_lib ? kMisuse : kError);
    if (_reports)
      logEvent(kSource, result == kDone ? kEventWarning : kEventError, _reports->rollback,
               _text.c_str(), result, resultText(_lib, result));
  }
  if (_lib)
    for (sqlite3_stmt* statement : {_statements.begin, _statements.commit, _statements.rollback})
      if (statement) _lib->sqlite3_reset(statement);
}

OwnStatements::OwnStatements(SQLiteDynamic* lib, sqlite3* db)
    : _begin(lib), _commit(lib), _rollback(lib), _result(kOk) {
  static const char* const kTexts[] = {"BEGIN IMMEDIATE", "COMMIT", "ROLLBACK"};
  Statement* const slots[] = {&_begin, &_commit, &_rollback};
  for (int i = 0; i < 3 && _result == kOk; ++i)
    _result = slots[i]->prepare(db, std::string(kTexts[i]));
}

TransactionStatements OwnStatements::statements() const {
  TransactionStatements s;
  s.begin = _begin.get();
  s.commit = _commit.get();
  s.rollback = _rollback.get();
  return s;
}

}  // namespace sqlite
}  // namespace pda

#include "pda/ChangeWatch.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/Paths.h"
#include "pda/DirUtilities.h"
#include "pda/KestRecord.h"
#include "pda/SQLiteDynamic.h"
#include "platform/ChangeNotifier.h"
#include "platform/platform.h"
#include "stores/KestRegistryKeys.h"

namespace {

const int kSqliteOk = 0;
const int kSqliteRow = 100;
const int kOpenReadOnly = 1;
// The version of a database that cannot be opened (not there yet).
const long long kAbsent = -2;

// A read-only connection that asks SQLite whether another connection
// committed since the last question ("PRAGMA data_version"): a database file
// is also written without a change of its data (a rolled-back transaction),
// and on Windows every file of the directory wakes the watch.
struct VersionedDatabase {
  std::string path;
  sqlite3* db = nullptr;
  long long version = kAbsent;
};

}  // namespace

struct ChangeWatch::State {
  std::unique_ptr<pda::platform::ChangeNotifier> notifier;
  std::atomic<bool> stopped{false};
  bool watching = false;
  std::unique_ptr<SQLiteDynamic> sqlite;
  std::vector<VersionedDatabase> databases;

  ~State() {
    for (VersionedDatabase& d : databases)
      if (d.db) sqlite->sqlite3_close_v2(d.db);
    if (sqlite) sqlite->unload();
  }

  bool open(VersionedDatabase& d) {
    if (d.db) return true;
    if (!sqlite || !sqlite->_hModule) return false;
    if (sqlite->sqlite3_open_v2(d.path.c_str(), &d.db, kOpenReadOnly, nullptr) != kSqliteOk) {
      if (d.db) sqlite->sqlite3_close_v2(d.db);
      d.db = nullptr;
      return false;
    }
    query(d, "PRAGMA busy_timeout=1000;");
    return true;
  }

  // The first column of the first row as a number; -1 on failure.
  long long query(VersionedDatabase& d, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    long long result = -1;
    if (sqlite->sqlite3_prepare_v2(d.db, sql, -1, &statement, nullptr) == kSqliteOk &&
        sqlite->sqlite3_step(statement) == kSqliteRow)
      result = sqlite->sqlite3_column_int(statement, 0);
    if (statement) sqlite->sqlite3_finalize(statement);
    return result;
  }

  // Whether a database changed since the last call: appeared, or committed
  // by another connection. One that cannot be asked (busy) counts as
  // changed: the caller reads it again.
  bool databasesChanged() {
    if (databases.empty()) return true;
    bool changed = false;
    for (VersionedDatabase& d : databases) {
      const long long version = open(d) ? query(d, "PRAGMA data_version;") : kAbsent;
      if (version == -1 || version != d.version) changed = true;
      d.version = version;
    }
    return changed;
  }
};

ChangeWatch::ChangeWatch(DataSource dataSource)
    : _dataSource(dataSource == UnknownDataSource ? KestRecord::getGlobalDefaultDataSource()
                                                  : dataSource),
      _state(new State) {
  _state->notifier = pda::platform::createChangeNotifier();
  if (!_state->notifier) return;
  switch (_dataSource) {
    case RegistryDataSource:
      _state->watching = _state->notifier->watchKey(pda::registry::kBaseKey);
      break;
    case SQLiteDataSource: {
      // The configuration database, and the PXI database when its directory
      // is there. The SQLite library is the suite's, as the store loads it.
      char library[MAX_PATH];
      if (pda::buildPath(library, sizeof library, DirUtilities::getBaseDir(),
                         "bin" PDA_PATH_SEP "SQLite.Interop.dll"))
        _state->sqlite.reset(new SQLiteDynamic(library));
      const std::string files[] = {std::string(DirUtilities::getSharedDataDir()) + "Quillon.db",
                                   std::string(DirUtilities::getPxiDataDir()) + "RemotePXI.db"};
      for (const std::string& file : files) {
        if (!_state->notifier->watchFile(file.c_str())) continue;
        _state->watching = true;
        VersionedDatabase d;
        d.path = file;
        _state->databases.push_back(d);
      }
      _state->databasesChanged();  // the versions to compare with
      break;
    }
    default:
      // The built-in defaults never change: waits only time out.
      _state->watching = true;
      break;
  }
}

ChangeWatch::~ChangeWatch() {
  delete _state;
}

bool ChangeWatch::isWatching() const noexcept {
  return _state->watching;
}

int ChangeWatch::waitForChange(unsigned int timeoutMs) {
  if (!_state->watching || _state->stopped.load()) return -1;
  using Clock = std::chrono::steady_clock;
  const bool forever = timeoutMs == kForever;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    unsigned int left = kForever;
    if (!forever) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = ms > 0 ? static_cast<unsigned int>(ms) : 0;
    }
    const int result = _state->notifier->wait(left);
    if (_state->stopped.load()) return -1;
    if (result != 1) return result;
    if (_dataSource != SQLiteDataSource || _state->databasesChanged()) return 1;
  }
}

void ChangeWatch::stop() noexcept {
  _state->stopped.store(true);
  if (_state->notifier) _state->notifier->wake();
}

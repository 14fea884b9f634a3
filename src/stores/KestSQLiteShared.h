#pragma once

// What the three parts of the SQLite store (KestSQLite.cpp: binding,
// connections, transactions; KestSQLiteRead.cpp; KestSQLiteWrite.cpp) share:
// the result codes used by name, the process-wide connection table and the
// scoped helpers around the instance lock and the transaction lock.

#include <mutex>
#include <string>

#include "pda/KestSQLite.h"

namespace pda {

namespace sqlite {
const int kOk = 0;
const int kError = 1;
const int kBusy = 5;
const int kLocked = 6;
const int kReadOnly = 8;
const int kCantOpen = 14;
const int kMisuse = 21;
const int kRow = 100;
const int kDone = 101;

const int kOpenReadOnly = 0x1;
const int kOpenReadWrite = 0x2;
const int kOpenCreate = 0x4;

// Event types of logEvent.
const unsigned short kEventError = 1;
const unsigned short kEventWarning = 2;
const unsigned short kEventInformation = 4;

// Busy prepares and steps are tried this many times, sleeping this long
// after each busy or locked result.
const int kBusyAttempts = 100;
const unsigned kBusySleepMs = 10;

inline bool isBusy(int result) { return result == kBusy || result == kLocked; }
}  // namespace sqlite

// The two connections of one database file, shared by every instance of the
// process that uses that file (each file has its own pair, so a process that
// uses both "Quillon.db" and "RemotePXI.db" reaches each). The pairs live in
// a process-wide table keyed by path and are never freed, so an instance may
// keep a pointer to its pair for its whole life; closing all connections only
// clears the handles. The handles are read and written under the process
// mutex (KestSQLite.cpp).
struct SQLiteConnectionPair {
  explicit SQLiteConnectionPair(const std::string& p) : path(p) {}
  const std::string path;
  sqlite3* readOnly = nullptr;
  sqlite3* readWrite = nullptr;
  // Held by a writer from BEGIN IMMEDIATE to COMMIT or ROLLBACK (and around
  // a DELETE made outside a transaction), so that the transactions of two
  // instances on two threads never interleave on the shared read-write
  // connection. Recursive: a DELETE inside a write takes it again.
  std::recursive_mutex transaction;
};

}  // namespace pda

// Holds the instance lock of a KestSQLite for the lifetime of the object.
class KestSQLiteLock {
 public:
  explicit KestSQLiteLock(KestSQLite& node) : _node(node) { _node.enterSQLiteCriticalSection(); }
  ~KestSQLiteLock() { _node.leaveSQLiteCriticalSection(); }
  KestSQLiteLock(const KestSQLiteLock&) = delete;
  KestSQLiteLock& operator=(const KestSQLiteLock&) = delete;

 private:
  KestSQLite& _node;
};

#pragma once

// What the three parts of the SQLite store (KestSQLite.cpp: binding,
// connections, transactions; KestSQLiteRead.cpp; KestSQLiteWrite.cpp) share:
// the result codes used by name, the process-wide connection table and the
// scoped helpers around the instance lock and the transaction lock.

#include <mutex>
#include <set>
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

inline bool isBusy(int result) {
  return result == kBusy || result == kLocked;
}
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
  // The transaction statements that instances have prepared and cached on
  // readWrite and not yet finalized.
  std::set<sqlite3_stmt*> statements;
  // Held by a writer from BEGIN IMMEDIATE to COMMIT or ROLLBACK (and around
  // a DELETE made outside a transaction), so that the transactions of two
  // instances on two threads never interleave on the shared read-write
  // connection. Recursive: a DELETE inside a write takes it again.
  std::recursive_mutex transaction;
  // The file lock that orders this file's writers across processes (see
  // WriterFileLock) and how deep this process is inside it; both used only
  // by the thread that holds `transaction`.
  void* writerFileLock = nullptr;
  int writerDepth = 0;
};

// Orders the writers of one database file across processes. Every write
// transaction of the library (and a DELETE made outside one) holds an
// exclusive lock on "<database>-lock" from before its BEGIN IMMEDIATE to its
// end. Without it, writers of several processes meet only at BEGIN
// IMMEDIATE, where a writer that is told "busy" sleeps 10 ms and tries
// again: a process that writes all the time takes the database again at once
// after each commit, and a writer that keeps finding it taken gives up after
// its 100 attempts, although every transaction is short. Waiting for the
// file lock instead, the writers of the library take their turns in the
// system's queue and meet at BEGIN IMMEDIATE only writers from outside the
// library, with the retries and their bound as before. Holders keep the lock
// for one transaction only, and the system drops it when a holder dies.
// Where the lock file cannot be made or opened (a folder the process may not
// write), writers go without it, as before.
//
// REQUIRES: the pair's transaction mutex is held by this thread for the
// whole life of the object. Nested writes (the DELETE inside a write) take
// the file lock once.
class WriterFileLock {
 public:
  explicit WriterFileLock(SQLiteConnectionPair* pair);
  ~WriterFileLock();
  WriterFileLock(const WriterFileLock&) = delete;
  WriterFileLock& operator=(const WriterFileLock&) = delete;

 private:
  SQLiteConnectionPair* _pair;
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

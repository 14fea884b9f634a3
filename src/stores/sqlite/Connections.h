#pragma once

// The SQLite store's state of the process: the binding to the SQLite library,
// the connections of each database file, the writers' locks, the texts of
// result codes, and the creation of a missing database file. The nodes
// (KestSQLite) call into this unit; it knows nothing of them.
//
// Lock order. A thread that holds one of these locks takes only locks below
// it, never one above:
//   1. a node's instance lock (KestSQLite::_cs, recursive): serialises the
//      callers of one node;
//   2. File::creation: the creation of a missing database file, one at a
//      time in the process;
//   3. File::writers (recursive, handed on in order, waited for while the
//      line moves): one transaction at a time on the file's shared
//      read-write connection;
//   4. the writers' file lock "<database>-lock": orders the writers of
//      other processes; taken only by the thread that holds 3, and waited
//      for a second at most;
//   5. File::reading: one read statement at a time on the file's shared
//      read connection, from its first step to its end;
//   6. File::guard: the file's connection handles and statements;
//   7. the process mutex (state()): the binding and the texts.
// Locks 5 to 7 are held only for short work that never waits for another
// process: a read that meets a busy database lets go of 5 while it sleeps.

#include <set>
#include <string>
#include <vector>

#include "pda/SQLiteDynamic.h"
#include "stores/sqlite/ThreadSafety.h"

namespace pda {
namespace sqlite {

// The connections of one database file, shared by every node of the process
// that uses that file (each file has its own pair, so a process that uses
// both "Quillon.db" and "RemotePXI.db" reaches each). Entries are never
// freed, so a node may keep a pointer to its file's entry for its life.
class File {
 public:
  explicit File(const std::string& p) : path(p) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::string path;
  Mutex creation PDA_ACQUIRED_BEFORE(writers);
  TimedRecursiveMutex writers PDA_ACQUIRED_BEFORE(reading);
  // Held by a read from its first step to its end: the threads of the
  // process share the read connection, and a read that started while
  // another was under way would take no read lock of its own; so reads that
  // follow each other without a gap would keep the database from a writer
  // that waits to commit (which lets no new read lock in) for ever.
  Mutex reading PDA_ACQUIRED_BEFORE(guard);
  Mutex guard;

  sqlite3* readOnly PDA_GUARDED_BY(guard) = nullptr;
  sqlite3* readWrite PDA_GUARDED_BY(guard) = nullptr;
  // Connections to a file that was found missing and made anew: another
  // thread may still be inside a call on one of them, so they are closed
  // only with every other connection, when the process unloads the library.
  std::vector<sqlite3*> retired PDA_GUARDED_BY(guard);
  // The transaction statements that nodes have prepared on readWrite and not
  // yet finalized: closing the connection finalizes them first, so that the
  // connection is really closed.
  std::set<sqlite3_stmt*> statements PDA_GUARDED_BY(guard);
  // Raised whenever the connections are closed or retired: a statement
  // prepared under an older generation is gone and never used again.
  unsigned generation PDA_GUARDED_BY(guard) = 1;

  // The writers' file lock and how deep this process is inside it.
  void* fileLock PDA_GUARDED_BY(writers) = nullptr;
  int writerDepth PDA_GUARDED_BY(writers) = 0;
};

// The binding, or null while none is loaded.
SQLiteDynamic* binding();
// Loads the library from path unless a binding exists; true when one exists
// afterwards. A path that does not fit the binding's 260 bytes loads nothing.
bool loadBinding(const char* path);
// Closes every connection of every file, finalizing the statements prepared
// on them, and releases the library. Runs when the process unloads the
// library, when no other thread uses it.
void closeAll();

// The entry of a database file (made at its first use).
File& fileAt(const std::string& path);
// The file's connection, or null while none is open.
sqlite3* connection(File& file, bool readWrite);
// Opens the file's connection unless it is open (read-only or read-write,
// never creating the file). SQLITE_OK when it is open afterwards; otherwise
// the open's result (SQLITE_ERROR without a binding).
int openConnection(File& file, bool readWrite);
// The file's current generation (see File::generation).
unsigned generationOf(File& file);
// Records a statement prepared on the file's read-write connection in the
// given generation; false (and the statement finalized) when that
// generation has passed meanwhile.
bool adoptStatement(File& file, unsigned generation, sqlite3_stmt* statement);
// Finalizes a statement adopted in the given generation, unless the
// connection has been closed since (which finalized it already).
void finalizeStatement(File& file, unsigned generation, sqlite3_stmt* statement);

// The text of a result code: "SQLITE_ROW" and "SQLITE_DONE" for 100 and 101,
// the library's own text (sqlite3_errstr) for every other code, and
// "sqlite3 DLL open failed." without a library. Each text is kept once for
// the life of the process, so it outlives the library that gave it and a
// pointer handed to a caller never changes under it.
const char* resultText(SQLiteDynamic* lib, int result);
// The text of the last result of a node for getLastSQliteResultString: the
// text last handed out while no library is loaded.
const char* lastResultText(int lastResult);

// Steps a statement with retries (see stepRetrying) and, when all 100
// attempts were made, reports the last result with description: as a
// warning for SQLITE_ROW or SQLITE_DONE, as an error otherwise.
int tryStep(SQLiteDynamic* lib, sqlite3_stmt* statement, const char* description,
            double timeoutValue);

// Holds the writers' locks of a file (3 and 4 above) for its life. The
// process's other writers of the file are waited for in the order of
// arrival, while their line moves: a writer gives up (and its write fails
// with SQLITE_BUSY, as it would at BEGIN IMMEDIATE) only when the lock has
// not changed hands for three seconds, each holder's transaction being
// bounded. The writers of other processes are waited for a second at most;
// after that the writer goes on without the file lock and meets them at
// BEGIN IMMEDIATE, whose retries are bounded too. So a writer never waits
// without bound, even for a process that was stopped while it held the
// file lock. Nested writers of one thread (a DELETE inside a write) take the
// locks once.
class WriterLock {
 public:
  explicit WriterLock(File* file);
  ~WriterLock();
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;
  // Whether this process's writers of the file are excluded (false without
  // a file, and when the wait ran out).
  bool held() const noexcept { return _held; }

 private:
  File* _file;
  bool _held = false;
};

// A reader's turn among the writers of other processes: the writers' file
// lock of the file (4 above), waited for a second at most, and held without
// the process's own writers' lock. Readers of this process do not queue with
// its writers: threads of one process share its read connection, and a
// reader there needs no turn to get in after a commit of its own process.
class ReaderTurn {
 public:
  explicit ReaderTurn(File& file);
  ~ReaderTurn();
  ReaderTurn(const ReaderTurn&) = delete;
  ReaderTurn& operator=(const ReaderTurn&) = delete;

 private:
  void* _fileLock;
};

// Creates the database file of `file` when it is missing: `build` fills a
// new database on a connection of its own (which it must leave with no
// statement open), and only a database that `build` completed is put in
// place, under the file's name, in one step that never replaces a file;
// so no connection of any process ever sees a half-built database, and a
// failed creation leaves nothing behind. Threads of the process create one
// at a time and a later one finds the file made. Connections of the process
// that were still open on a file of that name (deleted meanwhile) are
// retired, so the next use opens the new file. Returns true when the file
// exists afterwards; *openResult gets the result of opening the new
// database (SQLITE_OK when it was not needed).
bool createMissingDatabase(File& file, bool (*build)(sqlite3* db, void* context), void* context,
                           int* openResult);

}  // namespace sqlite
}  // namespace pda

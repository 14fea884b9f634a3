#include "stores/sqlite/Connections.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "base/Text.h"
#include "pda/DirUtilities.h"
#include "platform/platform.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Statement.h"

namespace pda {
namespace sqlite {

namespace {

const char kSource[] = "SQLite";
const char kNoLibraryText[] = "sqlite3 DLL open failed.";

// Allocated once and never destroyed: closeAll runs when the library is
// unloaded, after the destructors of ordinary statics may already have run.
struct State {
  Mutex mutex;
  SQLiteDynamic* binding PDA_GUARDED_BY(mutex) = nullptr;
  std::map<std::string, File*> files PDA_GUARDED_BY(mutex);
  // Every result text handed out, one copy each. There are only a few dozen.
  std::set<std::string> texts PDA_GUARDED_BY(mutex);
  const char* lastResultText PDA_GUARDED_BY(mutex) = nullptr;
};

State& state() {
  static State* const s = new State();
  return *s;
}

const char* intern(State& s, const char* text) PDA_REQUIRES(s.mutex) {
  return s.texts.insert(text ? text : "").first->c_str();
}

using Clock = std::chrono::steady_clock;

}  // namespace

SQLiteDynamic* binding() {
  State& s = state();
  MutexLock lock(s.mutex);
  return s.binding;
}

bool loadBinding(const char* path) {
  State& s = state();
  MutexLock lock(s.mutex);
  if (s.binding) return true;
  if (!path || std::strlen(path) >= sizeof(SQLiteDynamic::_dllPath)) return false;
  std::unique_ptr<SQLiteDynamic> loaded(new SQLiteDynamic(path));
  if (!loaded->_hModule) return false;
  s.binding = loaded.release();
  return true;
}

// Every statement still prepared on a connection is finalized before the
// connection is closed, so the connection is really closed (its file
// released, its memory freed) rather than left waiting for statements that
// could never be finalized once the library is gone.
void closeAll() {
  State& s = state();
  SQLiteDynamic* lib;
  std::vector<File*> files;
  {
    MutexLock lock(s.mutex);
    lib = s.binding;
    if (!lib) return;
    for (auto& entry : s.files) files.push_back(entry.second);
  }
  // Each file's guard is taken alone (it comes before the process mutex).
  for (File* file : files) {
    MutexLock guard(file->guard);
    for (sqlite3_stmt* statement : file->statements) lib->sqlite3_finalize(statement);
    file->statements.clear();
    for (sqlite3* db : {file->readWrite, file->readOnly}) {
      if (db) lib->sqlite3_close_v2(db);
    }
    for (sqlite3* db : file->retired) lib->sqlite3_close_v2(db);
    file->retired.clear();
    file->readWrite = file->readOnly = nullptr;
    ++file->generation;
  }
  {
    MutexLock lock(s.mutex);
    s.binding = nullptr;
  }
  lib->unload();
  delete lib;
}

File& fileAt(const std::string& path) {
  State& s = state();
  MutexLock lock(s.mutex);
  File*& file = s.files[path];
  if (!file) file = new File(path);
  return *file;
}

sqlite3* connection(File& file, bool readWrite) {
  MutexLock guard(file.guard);
  return readWrite ? file.readWrite : file.readOnly;
}

// The open is made under the file's guard, so two threads never open two
// connections for one slot. Opening touches no lock of the file.
int openConnection(File& file, bool readWrite) {
  SQLiteDynamic* const lib = binding();
  if (!lib) return kError;
  MutexLock guard(file.guard);
  sqlite3*& slot = readWrite ? file.readWrite : file.readOnly;
  if (slot) return kOk;
  sqlite3* db = nullptr;
  const int result = lib->sqlite3_open_v2(file.path.c_str(), &db,
                                          readWrite ? kOpenReadWrite : kOpenReadOnly, nullptr);
  if (result != kOk) {
    if (db) lib->sqlite3_close_v2(db);
    db = nullptr;
  }
  slot = db;
  return result;
}

unsigned generationOf(File& file) {
  MutexLock guard(file.guard);
  return file.generation;
}

bool adoptStatement(File& file, unsigned generation, sqlite3_stmt* statement) {
  MutexLock guard(file.guard);
  if (generation != file.generation) return false;
  file.statements.insert(statement);
  return true;
}

void finalizeStatement(File& file, unsigned generation, sqlite3_stmt* statement) {
  if (!statement) return;
  MutexLock guard(file.guard);
  if (generation != file.generation) return;
  file.statements.erase(statement);
  if (SQLiteDynamic* lib = binding()) lib->sqlite3_finalize(statement);
}

const char* resultText(SQLiteDynamic* lib, int result) {
  if (result == kRow) return "SQLITE_ROW";
  if (result == kDone) return "SQLITE_DONE";
  State& s = state();
  MutexLock lock(s.mutex);
  return intern(s, lib ? lib->sqlite3_errstr(result) : kNoLibraryText);
}

const char* lastResultText(int lastResult) {
  State& s = state();
  SQLiteDynamic* const lib = binding();
  const char* text = lib ? resultText(lib, lastResult) : nullptr;
  MutexLock lock(s.mutex);
  if (text) s.lastResultText = text;
  if (!s.lastResultText) s.lastResultText = intern(s, kNoLibraryText);
  return s.lastResultText;
}

// The elapsed time of the report is measured from the first attempt to the
// end of the last sleep.
int tryStep(SQLiteDynamic* lib, sqlite3_stmt* statement, const char* description,
            double timeoutValue) {
  const double start = platform::monotonicMilliseconds();
  int attempts = 0;
  const int result = stepRetrying(lib, statement, &attempts);
  if (attempts == kBusyAttempts) {
    const double elapsed = platform::monotonicMilliseconds() - start;
    logEvent(kSource, result >= kRow ? kEventWarning : kEventError,
             "tryStep: %s\n Timeout value = %13.6f seconds\n Elapsed time = %13.6f milliseconds\n"
             " tries = %d\n SQLite result=%d\n(%s)\n",
             description ? description : "", timeoutValue, elapsed, attempts, result,
             resultText(lib, result));
  }
  return result;
}

int storeTryStep(SQLiteDynamic* lib, sqlite3_stmt* statement, const char* description) {
  return tryStep(lib, statement, description, 10.0);
}

void storeReport(SQLiteDynamic* lib, unsigned short type, const char* format,
                 const std::string& text, int result) {
  logEvent(kSource, type, format, text.c_str(), result, resultText(lib, result));
}

// ---------------------------------------------------------------------------
// The writers' locks

namespace {

// The file whose writers' locks this thread gave back last, and when.
thread_local const File* tLastReleased = nullptr;
thread_local Clock::time_point tReleasedAt;
// How many writers' locks this thread holds (nested ones counted).
thread_local int tHeld = 0;

// Writers take their turns: a thread that gave the file's locks back less
// than a millisecond ago lets the waiting threads and processes (which try
// every millisecond) in before it takes them again, so that a program that
// writes without a pause does not keep the file from every other writer
// and reader.
void letWaitersIn(const File& file) {
  if (tHeld > 0 || tLastReleased != &file) return;
  if (Clock::now() - tReleasedAt < std::chrono::milliseconds(1)) Sleep(1);
}

// The process's own writers of the file are waited for while their line
// moves: each holds the lock for one transaction, whose BEGIN, DELETE and
// COMMIT each wait for a busy database about a second at most, so a thread
// gives up only when the lock has not changed hands for three seconds. The
// writers of other processes likewise, up to a second without a hand-over:
// one of them may have been stopped while it held the file lock.
bool lockWriters(File& file) PDA_TRY_ACQUIRE(true, file.writers) {
  letWaitersIn(file);
  if (!file.writers.tryLock(std::chrono::milliseconds(3 * kLockWaitMs))) return false;
  ++tHeld;
  if (file.writerDepth++ == 0)
    file.fileLock = platform::lockFileWithin((file.path + "-lock").c_str(), kLockWaitMs);
  return true;
}

void unlockWriters(File& file) PDA_RELEASE(file.writers) {
  if (--file.writerDepth == 0) {
    platform::unlockFile(file.fileLock);
    file.fileLock = nullptr;
    tLastReleased = &file;
    tReleasedAt = Clock::now();
  }
  --tHeld;
  file.writers.unlock();
}

}  // namespace

WriterLock::WriterLock(File* file) PDA_NO_THREAD_SAFETY_ANALYSIS : _file(file) {
  if (_file) _held = lockWriters(*_file);
}

WriterLock::~WriterLock() PDA_NO_THREAD_SAFETY_ANALYSIS {
  if (_held) unlockWriters(*_file);
}

ReaderTurn::ReaderTurn(File& file)
    : _fileLock(platform::lockFileWithin((file.path + "-lock").c_str(), kLockWaitMs)) {}

ReaderTurn::~ReaderTurn() {
  platform::unlockFile(_fileLock);
}

// ---------------------------------------------------------------------------
// Creation of a missing database

namespace {

bool exists(const std::string& path) {
  return platform::fileModificationTime(path.c_str()) != 0;
}

// Connections still open on a file that was found missing: retired (see
// File::retired), so that the next use opens the file anew.
void retireConnections(File& file) {
  MutexLock guard(file.guard);
  if (!file.readOnly && !file.readWrite) return;
  SQLiteDynamic* const lib = binding();
  for (sqlite3_stmt* statement : file.statements)
    if (lib) lib->sqlite3_finalize(statement);
  file.statements.clear();
  for (sqlite3* db : {file.readOnly, file.readWrite})
    if (db) file.retired.push_back(db);
  file.readOnly = file.readWrite = nullptr;
  ++file.generation;
}

}  // namespace

// The new database is built under a name of its own beside the final one
// ("<name>.new-<process id>-<count>"), so that only the process and thread
// that build it ever open it, and is then put in place with a call that
// fails when the name is taken. When two processes build at once, the first
// to finish puts its database in place and the other discards its own: the
// two are the same empty tables with the same rows. A process that dies
// while building leaves its partial file under the temporary name, where no
// one reads it.
bool createMissingDatabase(File& file, bool (*build)(sqlite3* db, void* context), void* context,
                           int* openResult) {
  *openResult = kOk;
  MutexLock creating(file.creation);
  if (exists(file.path)) return true;
  retireConnections(file);

  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(file.path).parent_path(), ignored);
  static std::atomic<unsigned> counter{0};
  const unsigned count = ++counter;
  const std::string building = pda::format(
      "%s.new-%lu-%u", file.path.c_str(), static_cast<unsigned long>(GetCurrentProcessId()), count);
  std::remove(building.c_str());
  std::remove((building + "-journal").c_str());

  SQLiteDynamic* const lib = binding();
  if (!lib) {
    *openResult = kError;
    return false;
  }
  sqlite3* db = nullptr;
  *openResult = lib->sqlite3_open_v2(building.c_str(), &db, kOpenReadWrite | kOpenCreate, nullptr);
  bool built = false;
  if (*openResult == kOk) built = build(db, context);
  if (db) lib->sqlite3_close_v2(db);

  bool inPlace = false;
  if (built) {
    const int published = platform::publishFile(building.c_str(), file.path.c_str());
    inPlace = published == 0 || (published > 0 && exists(file.path));
  }
  std::remove(building.c_str());
  std::remove((building + "-journal").c_str());
  return inPlace;
}

}  // namespace sqlite
}  // namespace pda

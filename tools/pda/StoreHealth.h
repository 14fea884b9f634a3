#pragma once

// Whether a store can be read and written, found out from the tool's side:
// the records answer a store they cannot read with the getters' defaults and
// keep the reason in the event log only, so every command that reads a store
// checks it first, and a write that fails or does not read back is explained
// here. doctor runs the same checks one by one.

#include <string>
#include <vector>

#include <PersistedDataAccess.h>

namespace pdatool {

struct Problem {
  std::string store;   // "the SQLite configuration database 'path'", "the registry", ...
  std::string reason;  // SQLite's or the system's own words
  std::string line() const { return store + ": " + reason; }
};

// The store a record made for requested uses (the process-wide default when
// requested is UnknownDataSource, which decides and publishes it).
DataSource resolveSource(DataSource requested);

// The files of an installed suite, as the stores compute them.
std::string sqliteLibraryPath();  // <BaseDir>bin/SQLite.Interop.dll
std::string configDatabasePath();
std::string analyticsDatabasePath();
std::string pxiDatabasePath();

// Why the store cannot be read; empty when it can. The built-in defaults
// always can; a registry key that does not exist yet is a store without
// values, not a problem.
std::vector<Problem> readProblems(DataSource resolved);
// The remote PXI database and its library (a database not made yet is fine).
std::vector<Problem> pxiProblems();

// Registry values the registry store's reader cannot take (a name of 1,024
// characters or more, data of more than 1,024 bytes) in the store's key and
// below: each hides itself and every value after it in its key.
std::vector<Problem> registryValueSizeProblems();

// Throws WriteError (exit status 1) naming the first problem.
void throwIfAny(const std::vector<Problem>& problems);
// readProblems of the store a record made for requested uses, thrown.
void requireReadable(DataSource requested);

// The SQLite checks doctor shows one by one: "" when the database answers.
// Both open the file with the given library; neither creates it.
std::string databaseReadProblem(const std::string& library, const std::string& path);
std::string databaseWriteProblem(const std::string& library, const std::string& path);

// Refuses, before anything is written, text that the store would not give
// back as written, and any write to the built-in defaults or to a store that
// cannot be read (WriteError, exit status 1).
void checkWritable(DataSource resolved, const std::string& name, const std::string& text);

// Why the store refused a write: read only, locked, not a database, ...
std::string writeRefusal(DataSource resolved);

// The longest text the tool reads back through a record (its buffer less
// the terminator); the records never cut a longer text, they read it as "".
const std::size_t kLongestReadableText = 64 * 1024 - 1;

}  // namespace pdatool

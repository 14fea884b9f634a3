#pragma once

// What the suite's installer leaves on a computer, in one place: where the
// base directory, the SQLite library, the installation marker and the two
// databases go, and the steps that make them. `pda init`, the tests, the fuzz
// targets and the benchmarks lay out an installed suite through this module
// (the examples through `pda init`). Internal: not installed.
//
// Compiled into each program that uses it (an INTERFACE library in CMake),
// so that it takes the library's classes the way that program does (from the
// DLL, or from the tests' static archive).

#include <stdexcept>
#include <string>
#include <vector>

namespace pdasuite {

// The registry key (below HKEY_LOCAL_MACHINE) whose "BaseDir" value makes a
// suite count as installed.
inline const char kSuiteKey[] = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";

// Every step reports a failure so, with the path and the reason; a refused
// registry call also with its result code (0 otherwise).
class InstallError : public std::runtime_error {
 public:
  explicit InstallError(const std::string& what, long code = 0)
      : std::runtime_error(what), _code(code) {}
  long code() const { return _code; }

 private:
  long _code;
};

struct Layout {
  std::string baseDir;    // ends with a separator
  std::string systemDir;  // no separator at the end
  std::string dataDir;    // ends with a separator
  std::string pxiDir;     // ends with a separator

  std::string library() const;            // <baseDir>bin/SQLite.Interop.dll
  std::string marker() const;             // <systemDir>/brix32.dll
  std::string configDatabase() const;     // <dataDir>Quillon.db
  std::string analyticsDatabase() const;  // <dataDir>DataAnalytics.db
};

// The layout of a suite installed on the machine whose root is root: on
// POSIX (the emulated machine) everything lies below root, as the library
// finds it through PDA_ROOT; on Windows the base directory lies below root
// and the system and data folders are the machine's own.
Layout layoutUnder(const std::string& root);

// The statements of the two databases: the configuration tables, the index
// of the configuration query and, withSample, a small sample configuration;
// the usage tables.
std::vector<const char*> configStatements(bool withSample);
std::vector<const char*> analyticsStatements();

// Makes an installed suite step by step and remembers each file and folder it
// made; unless keep() is called, the destructor removes them again, newest
// first, so a failed installation leaves nothing behind. What existed before
// is never removed nor overwritten.
class Installation {
 public:
  explicit Installation(Layout layout) : _layout(std::move(layout)) {}
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const Layout& layout() const { return _layout; }

  // The base directory's bin folder, the system folder, the data folder and
  // the PXI folder below it, with their missing parents.
  void makeDirectories();
  // Puts the SQLite library where the suite keeps it: on POSIX a link to
  // sqliteLibrary (a link left by an earlier installation is replaced, any
  // other file there is kept and used), on Windows a copy.
  void placeLibrary(const std::string& sqliteLibrary);
  // The installation marker in the system folder (kept when it exists).
  void placeMarker();
  // Creates the database at path with statements, in one transaction,
  // through SQLite loaded from sqliteLibrary. Refuses a path that exists.
  void createDatabase(const std::string& path, const std::vector<const char*>& statements,
                      const std::string& sqliteLibrary);
  // Registers "BaseDir" (not undone: an installation registers it last, as
  // it is what makes the layout count as installed).
  void registerBaseDir();

  void keep() { _kept = true; }

 private:
  void made(const std::string& path) { _made.push_back(path); }
  void directories(const std::string& dir);

  Layout _layout;
  std::vector<std::string> _made;
  bool _kept = false;
};

// A plain installed suite without databases, kept: the directories, the
// library (unless withLibrary is false), the marker and "BaseDir".
void installPlain(const Layout& layout, const std::string& sqliteLibrary, bool withLibrary = true);

}  // namespace pdasuite

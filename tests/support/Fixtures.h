#pragma once

// Test fixtures shared by every suite: a private emulated machine per test,
// the layout of an installed suite, the event log and the sqlite3 client.

#include <string>
#include <vector>

namespace pdatest {

// A fresh emulated machine in a temporary folder: sets PDA_ROOT for the
// process and removes the folder again when destroyed. Construct it before
// the first call into the library (tests run one per process).
class TempMachine {
 public:
  TempMachine();
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::string& root() const { return _root; }
  // root() followed by a separator and rel.
  std::string path(const std::string& rel) const;

  // The directories the library computes for this machine.
  std::string dataDir() const;  // ends with a separator
  std::string pxiDir() const;   // ends with a separator
  std::string baseDir() const;  // what installSuite registers; ends with a separator
  std::string systemDir() const;

  // Lays out an installed suite: registers "BaseDir", puts the SQLite
  // library at <BaseDir>bin/SQLite.Interop.dll (unless withLibrary is false),
  // the brix32.dll marker in the system directory, and makes the data and
  // PXI directories. Creates no database.
  void installSuite(bool withLibrary = true) const;

  // Creates dataDir()/Quillon.db with the tables the library reads and writes
  // (empty), through the sqlite3 client.
  std::string createConfigDatabase() const;

 private:
  std::string _root;
};

// The real SQLite library of this platform, as a path LoadLibraryA takes:
// the system's libsqlite3 on POSIX, the Windows SQLite that the test script
// names in PDA_WIN_SQLITE_DLL on Windows.
std::string sqliteLibrary();
// A library that loads but exports none of SQLite's functions, by its
// absolute path.
const char* libraryWithoutSQLite();

// Runs the sqlite3 client on db with sql on its standard input; returns its
// standard output. Fails the current test (ADD_FAILURE) when the client exits
// with an error, and then returns what it printed.
std::string sqlite(const std::string& db, const std::string& sql);

// Quotes text for SQL: single quotes doubled, the whole between quotes.
std::string sqlQuote(const std::string& text);

// Runs a shell command; returns its exit status and fills out with stdout.
int run(const std::string& command, std::string* out = nullptr);

#if defined(_WIN32)
// Under Wine: the host's (Linux) path of a Windows path, and the Windows
// path of a host path; "" without Wine.
std::string hostPath(const std::string& windowsPath);
std::string windowsPathOfHost(const std::string& hostPath);
// Under Wine: starts script with the host's /bin/sh (arguments as $1, $2 and
// so on, host paths where they name files) and returns at once, with a token
// for waitOnHost; "" when the command cannot be started. waitOnHost waits at
// most seconds for it to end and gives its exit status, -1 when it did not
// end or did not start.
std::string startOnHost(const std::string& script, const std::vector<std::string>& arguments);
int waitOnHost(const std::string& started, unsigned int seconds);
#endif

struct Event {
  std::string source;
  std::string type;  // "ERROR", "WARNING", "INFORMATION" or "SUCCESS"
  int id = 0;
  std::string message;  // line breaks restored
  // The message was cut by the log reader, not by the library: under Wine the
  // events come from Wine's debug output, which keeps about 290 characters of
  // a message. A test that checks a longer message skips when this is set.
  bool truncated = false;
};
// The events of the emulated machine's event log, oldest first.
std::vector<Event> readEvents();

// Writes a value into the registry of the emulated machine through the
// library's registry calls; key is a path below HKEY_LOCAL_MACHINE.
void regSetString(const std::string& key, const std::string& name, const std::string& value);
void regSetDword(const std::string& key, const std::string& name, unsigned int value);
void regSetRaw(const std::string& key, const std::string& name, unsigned int type,
               const std::string& bytes);
// Reads a value back; false when the key or value is missing.
bool regGet(const std::string& key, const std::string& name, unsigned int* type,
            std::string* bytes);

}  // namespace pdatest

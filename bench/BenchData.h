#pragma once

// What the benchmarks run on and what they compare the library with: a
// private emulated machine with an installed suite, the SQLite library loaded
// from that installation, the data sets written into the configuration
// database and the registry, and the baselines (the same work done with raw
// SQLite calls, bare maps and plain POSIX reads).

#include <cstddef>
#include <string>
#include <vector>

#include "pda/IKestBase.h"

struct sqlite3;
struct sqlite3_stmt;

namespace pdabench {

// A fresh emulated machine in a temporary folder (under $TMPDIR, else /tmp)
// laid out as an installed suite: "BaseDir" registered, the SQLite library
// linked in as <BaseDir>bin/SQLite.Interop.dll, the installation marker in
// the system folder, the data and PXI folders made. Sets PDA_ROOT for the
// process, so it must exist before the first call into the library. The
// folder is removed on destruction unless PDA_KEEP_BENCH_ROOT is set.
class Machine {
 public:
  // sqliteLibrary: the system's SQLite library that the installation links.
  explicit Machine(const std::string& sqliteLibrary);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::string& root() const { return _root; }
  std::string dataDir() const;  // ends with '/'
  std::string baseDir() const;  // ends with '/'
  std::string configDb() const;
  // The library path that the store loads; loading it again yields the same
  // loaded library, never a second copy.
  std::string sqliteLibrary() const;

 private:
  std::string _root;
};

// The SQLite library of the installation, loaded by path through the
// platform layer (so it is the very library the store uses), with the entry
// points the baselines and the data builders call.
class RawSQLite {
 public:
  explicit RawSQLite(const std::string& libraryPath);
  ~RawSQLite();
  RawSQLite(const RawSQLite&) = delete;
  RawSQLite& operator=(const RawSQLite&) = delete;

  static constexpr int kOk = 0;
  static constexpr int kRow = 100;
  static constexpr int kDone = 101;
  static constexpr int kOpenReadOnly = 0x1;
  static constexpr int kOpenReadWrite = 0x2;
  static constexpr int kOpenCreate = 0x4;

  // Throw std::runtime_error with SQLite's message on failure.
  sqlite3* open(const std::string& path, int flags);
  void exec(sqlite3* db, const std::string& sql);
  sqlite3_stmt* prepare(sqlite3* db, const std::string& sql);
  void close(sqlite3* db);

  int (*open_v2)(const char*, sqlite3**, int, const char*);
  int (*close_v2)(sqlite3*);
  int (*prepare_v2)(sqlite3*, const char*, int, sqlite3_stmt**, const char**);
  int (*step)(sqlite3_stmt*);
  int (*reset)(sqlite3_stmt*);
  int (*finalize)(sqlite3_stmt*);
  const unsigned char* (*column_text)(sqlite3_stmt*, int);
  int (*bind_text)(sqlite3_stmt*, int, const char*, int, void (*)(void*));
  int (*exec_)(sqlite3*, const char*, int (*)(void*, int, char**, char**), void*, char**);
  const char* (*errmsg)(sqlite3*);
  void (*free_)(void*);

 private:
  void* _module;
};

// ---------------------------------------------------------------------------
// Data sets

struct Setting {
  std::string name;
  std::string value;
};

// The rows of a settings table ("KestInfo"): the values that the settings
// record's getters read, with realistic texts, then numbered settings up to
// rows in all. Names are unique without regard to case.
std::vector<Setting> settingsRows(std::size_t rows);

struct ConfigRow {
  std::string key;  // IDKEY: the record's persistent id
  std::string name;
  std::string value;
};

// The rows of "ConfigData" for records configuration records: record 0 and
// every 21st after it is an interface, the 20 records after each interface
// are its instruments; every record has 8 values. Rows are grouped by record
// in that order (the reader sorts by key itself).
std::vector<ConfigRow> configRows(std::size_t records);
// How many of those records are interfaces.
std::size_t interfacesIn(std::size_t records);

// A configuration database at path with the tables the suite creates (no
// index beyond the row id), "KestInfo" filled with settings and "ConfigData"
// with config, in one transaction. An existing file is replaced.
void createConfigDatabase(RawSQLite& sqlite, const std::string& path,
                          const std::vector<Setting>& settings,
                          const std::vector<ConfigRow>& config);

// The I/O configuration in the emulated registry: below the base key
// "SOFTWARE\Vantrel\Quillon\CurrentVersion", the keys INTF0 ... with 8
// values each, and below each the device keys dev00 ... with 8 values each.
// Keys are created through the registry calls; the values files are written
// directly in the registry's own format (without a flush per key, which the
// calls would make). Returns the values file of every interface and device
// key, interfaces first: the files that reading the whole tree reads.
std::vector<std::string> createRegistryConfig(const Machine& machine, int interfaces,
                                              int devicesPerInterface);

// ---------------------------------------------------------------------------
// Baselines

// Getters on a bare map: find plus the conversion the library applies.
int mapGetInt32(const NameValueMap& map, const char* name, int defaultValue);
int mapGetBool(const NameValueMap& map, const char* name, int defaultValue);
void mapGetString(const NameValueMap& map, const char* name, char* buffer, unsigned int size,
                  const char* defaultValue);

// The raw read of a name/value table: prepare, step, column_text, into map.
void rawReadTable(RawSQLite& sqlite, sqlite3* db, const char* table, NameValueMap* map);

// The raw query of the configuration: every row of "ConfigData" in key
// order, each column's text fetched. Returns the number of rows.
std::size_t rawQueryConfig(RawSQLite& sqlite, sqlite3* db);

// A write done with raw SQLite the way the store does it: BEGIN IMMEDIATE
// and COMMIT prepared once, the DELETE and INSERT texts (which carry the
// name and value) prepared for each write, one transaction per write.
class RawWriter {
 public:
  RawWriter(RawSQLite& sqlite, sqlite3* db);
  ~RawWriter();
  RawWriter(const RawWriter&) = delete;
  RawWriter& operator=(const RawWriter&) = delete;
  // Replaces name's row of table; false (rolled back) when a step fails.
  bool write(const char* table, const char* name, const char* value);

 private:
  bool run(const std::string& sql);
  RawSQLite& _sqlite;
  sqlite3* _db;
  sqlite3_stmt* _begin;
  sqlite3_stmt* _commit;
  sqlite3_stmt* _rollback;
};

// Reads every file whole with open, read and close. Returns the bytes read;
// throws when a file cannot be read.
std::size_t readFiles(const std::vector<std::string>& paths);

// The bytes of the names and values held in a tree: every value map entry of
// the node and of all nodes below it, name length plus value length.
std::size_t nameValueBytes(const IKestBase* node);
// The nodes of a tree, the node itself included.
std::size_t nodeCount(const IKestBase* node);

}  // namespace pdabench

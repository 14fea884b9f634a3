// Lays out on the emulated machine ($PDA_ROOT) what the suite's installer
// leaves on a Windows computer, so that the examples that need an installed
// suite can run: the registered base directory with bin/SQLite.Interop.dll
// (a link to the system's SQLite library), the brix32.dll marker in the
// system directory, and the configuration and analytics databases with their
// tables. Not an example itself. Usage: install_suite <libsqlite3.so.0>
#include <PersistedDataAccess.h>
#include <pda/Win32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

bool registerBaseDir(const std::string& baseDir) {
  HKEY key = nullptr;
  if (KestRegistry::VtlRegCreateKey(HKEY_LOCAL_MACHINE,
                                    "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion",
                                    &key) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      RegSetValueExA(key, "BaseDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(baseDir.c_str()),
                     static_cast<DWORD>(baseDir.size() + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// Runs each statement on a new database file through the library's own
// binding to SQLite.
bool createDatabase(SQLiteDynamic& sqlite, const std::string& path,
                    std::initializer_list<const char*> statements) {
  sqlite3* db = nullptr;
  const int kReadWriteCreate = 0x2 | 0x4;
  bool ok = sqlite.sqlite3_open_v2(path.c_str(), &db, kReadWriteCreate, nullptr) == 0;
  for (const char* sql : statements) {
    sqlite3_stmt* statement = nullptr;
    ok = ok && sqlite.sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == 0;
    const int kDone = 101;
    ok = ok && sqlite.sqlite3_step(statement) == kDone;
    if (statement) sqlite.sqlite3_finalize(statement);
  }
  if (db) sqlite.sqlite3_close_v2(db);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const char* root = std::getenv("PDA_ROOT");
  if (argc != 2 || !root) {
    std::fprintf(stderr, "usage: PDA_ROOT=<machine> install_suite <libsqlite3.so.0>\n");
    return 2;
  }
  const fs::path base = fs::path(root) / "Quillon";
  std::error_code error;
  bool laidOut = fs::create_directories(base / "bin", error) && !error;
  fs::create_symlink(argv[1], base / "bin" / "SQLite.Interop.dll", error);
  laidOut = laidOut && !error;
  laidOut = laidOut && fs::create_directories(fs::path(root) / "System32", error) && !error;
  laidOut = laidOut && std::ofstream(fs::path(root) / "System32" / "brix32.dll").put('\0').good();
  // The PXI directory lies below the data directory: both are made.
  laidOut = laidOut && fs::create_directories(DirUtilities::getPxiDataDir(), error) && !error;
  if (!laidOut || !registerBaseDir(base.string() + "/")) {
    std::fprintf(stderr, "install_suite: cannot lay out the suite under %s\n", root);
    return 1;
  }

  SQLiteDynamic sqlite(argv[1]);
  const std::string data = DirUtilities::getSharedDataDir();
  const bool created =
      sqlite._hModule &&
      createDatabase(sqlite, data + "Quillon.db",
                     {"CREATE TABLE KestInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
                      "CREATE TABLE VisaInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
                      "CREATE TABLE SorrelParamInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT)",
                      "CREATE TABLE InstrumentFavorites(ID INTEGER PRIMARY KEY, NAME TEXT, "
                      "VALUE TEXT)",
                      "CREATE TABLE ConfigData(ID INTEGER PRIMARY KEY, IDKEY TEXT, NAME TEXT, "
                      "VALUE TEXT)",
                      "CREATE TABLE InstrAliasInfo(ID INTEGER PRIMARY KEY, IDKEY TEXT, NAME TEXT, "
                      "VALUE TEXT)"}) &&
      createDatabase(
          sqlite, data + "DataAnalytics.db",
          {"CREATE TABLE VISACAccess(ID INTEGER PRIMARY KEY, ProcessName TEXT, AccessTime TEXT)",
           "CREATE TABLE VISACOMAccess(ID INTEGER PRIMARY KEY, ProcessName TEXT, AccessTime TEXT)",
           "CREATE TABLE VISANETAccess(ID INTEGER PRIMARY KEY, ProcessName TEXT, AccessTime TEXT)",
           "CREATE TABLE SorrelSessionAccess(ID INTEGER PRIMARY KEY, SessionType TEXT, "
           "UsageCount INTEGER, StatisticsTime TEXT)"});
  sqlite.unload();
  if (!created) {
    std::fprintf(stderr, "install_suite: cannot create the databases in %s\n", data.c_str());
    return 1;
  }
  return 0;
}

#include "SuiteLayout.h"

#include <pda/SQLiteDynamic.h>
#include <pda/Win32.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "SuiteSchema.h"
#include "stores/sqlite/Codes.h"
#include "stores/sqlite/Statement.h"

#if defined(_WIN32)
#  include <shlobj.h>
#endif

namespace pdasuite {

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
const char kSep = '\\';
#else
const char kSep = '/';
#endif

std::string withSeparator(std::string dir) {
  if (dir.empty() || dir.back() != kSep) dir += kSep;
  return dir;
}

}  // namespace

std::string Layout::library() const {
  return baseDir + "bin" + kSep + "SQLite.Interop.dll";
}
std::string Layout::marker() const {
  return systemDir + kSep + "brix32.dll";
}
std::string Layout::configDatabase() const {
  return dataDir + "Quillon.db";
}
std::string Layout::analyticsDatabase() const {
  return dataDir + "DataAnalytics.db";
}

Layout layoutUnder(const std::string& root) {
  Layout layout;
  const std::string top = withSeparator(root);
  layout.baseDir = top + "Program Files" + kSep + "Tessaro" + kSep + "Quillon" + kSep;
#if defined(_WIN32)
  char dir[MAX_PATH + 1] = {0};
  const UINT n = GetSystemDirectoryA(dir, MAX_PATH);
  if (n == 0 || n > MAX_PATH) throw InstallError("cannot find the system folder");
  layout.systemDir = dir;
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, dir) != S_OK)
    throw InstallError("cannot find the common application data folder");
  layout.dataDir = withSeparator(dir);
#else
  layout.systemDir = top + "System32";
  layout.dataDir = top + "ProgramData" + kSep;
#endif
  layout.dataDir += std::string("Tessaro") + kSep + "Tessaro Quillon" + kSep;
  layout.pxiDir = layout.dataDir + "PXI" + kSep;
  return layout;
}

std::vector<const char*> configStatements(bool withSample) {
  std::vector<const char*> statements(std::begin(kConfigTables), std::end(kConfigTables));
  statements.push_back(kConfigIndex);
  if (withSample)
    statements.insert(statements.end(), std::begin(kConfigSample), std::end(kConfigSample));
  return statements;
}

std::vector<const char*> analyticsStatements() {
  return {std::begin(kAnalyticsTables), std::end(kAnalyticsTables)};
}

Installation::~Installation() {
  if (_kept) return;
  std::error_code ignored;
  for (auto it = _made.rbegin(); it != _made.rend(); ++it) fs::remove(*it, ignored);
}

void Installation::directories(const std::string& dir) {
  std::error_code ec;
  const fs::path path(dir);
  if (fs::is_directory(path, ec)) return;
  if (path.has_parent_path() && path.parent_path() != path)
    directories(path.parent_path().string());
  if (!fs::create_directory(path, ec) && !fs::is_directory(path, ec))
    throw InstallError("cannot create the directory '" + path.string() +
                       "': " + (ec ? ec.message() : "a file has that name"));
  made(path.string());
}

void Installation::makeDirectories() {
  // Without the separator at the end, so that each parent is made (and
  // remembered) once.
  directories(_layout.baseDir + "bin");
  directories(_layout.systemDir);
  directories(_layout.pxiDir.substr(0, _layout.pxiDir.size() - 1));
}

void Installation::placeLibrary(const std::string& sqliteLibrary) {
  const std::string link = _layout.library();
  std::error_code ec;
#if defined(_WIN32)
  if (fs::exists(link, ec)) return;
  if (!CopyFileA(sqliteLibrary.c_str(), link.c_str(), TRUE))
    throw InstallError("cannot copy the SQLite library '" + sqliteLibrary + "' to '" + link +
                       "' (error " + std::to_string(GetLastError()) + ")");
#else
  // A link left by an earlier installation is replaced so that it names the
  // library given now.
  if (fs::is_symlink(link, ec)) fs::remove(link, ec);
  if (fs::exists(link, ec)) return;
  fs::create_symlink(sqliteLibrary, link, ec);
  if (ec)
    throw InstallError("cannot link '" + link + "' to '" + sqliteLibrary + "': " + ec.message());
#endif
  made(link);
}

void Installation::placeMarker() {
  const std::string marker = _layout.marker();
  std::error_code ec;
  if (fs::exists(marker, ec)) return;
  std::FILE* file = std::fopen(marker.c_str(), "wb");
  if (!file) throw InstallError("cannot create '" + marker + "'");
  std::fclose(file);
  made(marker);
}

void Installation::createDatabase(const std::string& path,
                                  const std::vector<const char*>& statements,
                                  const std::string& sqliteLibrary) {
  std::error_code ec;
  if (fs::exists(path, ec) || fs::is_symlink(path, ec))
    throw InstallError("'" + path + "' already exists; remove it first to start over");
  SQLiteDynamic sqlite(sqliteLibrary.c_str());
  if (!sqlite._hModule)
    throw InstallError("cannot load the SQLite library '" + sqliteLibrary + "'");
  const int kOpenReadWriteCreate = 0x2 | 0x4;
  sqlite3* db = nullptr;
  made(path);
  std::string failure;
  if (sqlite.sqlite3_open_v2(path.c_str(), &db, kOpenReadWriteCreate, nullptr) !=
      pda::sqlite::kOk) {
    failure = "cannot create it";
  } else {
    std::vector<const char*> all{"BEGIN IMMEDIATE"};
    all.insert(all.end(), statements.begin(), statements.end());
    all.push_back("COMMIT");
    for (const char* sql : all) {
      pda::sqlite::Statement statement(&sqlite);
      const int prepared = statement.prepareOnce(db, sql, -1);
      const int stepped = prepared == pda::sqlite::kOk ? statement.step() : prepared;
      if (stepped != pda::sqlite::kDone) {
        failure = std::string("'") + sql + "' failed: " + sqlite.sqlite3_errmsg(db);
        break;
      }
    }
  }
  if (db) sqlite.sqlite3_close_v2(db);
  if (!failure.empty()) throw InstallError("the database '" + path + "': " + failure);
}

void Installation::registerBaseDir() {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSuiteKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key, "BaseDir", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(_layout.baseDir.c_str()),
                            static_cast<DWORD>(_layout.baseDir.size() + 1));
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS)
    throw InstallError("cannot register \"BaseDir\" under HKLM\\" + std::string(kSuiteKey) +
                           " (error " + std::to_string(result) + ")",
                       result);
}

void installPlain(const Layout& layout, const std::string& sqliteLibrary, bool withLibrary) {
  Installation installation(layout);
  installation.makeDirectories();
  if (withLibrary) installation.placeLibrary(sqliteLibrary);
  installation.placeMarker();
  installation.registerBaseDir();
  installation.keep();
}

}  // namespace pdasuite

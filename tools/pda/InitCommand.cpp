// pda init [DIR]: lays out an installed suite on the emulated machine (or,
// with DIR, under DIR as the machine's root): the "BaseDir" registry value,
// the SQLite library where the suite keeps it, the system marker, and the
// configuration and usage databases with a small sample configuration.
//
// Nothing is overwritten: when either database already exists the command
// fails before it changes anything.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include <pda/Win32.h>

#include "Command.h"
#include "Database.h"
#include "Schema.h"

namespace pdatool {

namespace {

namespace fs = std::filesystem;

const char* const kSuiteKey = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";

struct InitOptions {
  std::string root;
};

#if defined(_WIN32)
const char kSep = '\\';
#else
const char kSep = '/';
#endif

void makeDirs(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw WriteError("cannot create the directory '" + dir + "': " + ec.message());
}

void setBaseDir(const std::string& baseDir) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSuiteKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key, "BaseDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(baseDir.c_str()),
                        static_cast<DWORD>(baseDir.size() + 1));
    RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS)
    throw WriteError("cannot write \"BaseDir\" under HKLM\\" + std::string(kSuiteKey) + " (error " +
                     std::to_string(rc) + ")");
}

void createDatabase(const std::string& library, const std::string& path,
                    const char* const* statements, std::size_t count) {
  Database db(library, path, kOpenReadWriteCreate);
  db.execute("BEGIN");
  for (std::size_t i = 0; i < count; ++i) db.execute(statements[i]);
  db.execute("COMMIT");
}

void runInit(const InitOptions& options) {
  if (!options.root.empty()) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(options.root, ec);
    if (ec) throw UsageError("cannot use '" + options.root + "' as the root: " + ec.message());
      // The library finds the emulated machine through PDA_ROOT; it reads it at
      // every call, so setting it before the first call moves every path.
#if defined(_WIN32)
    _putenv_s("PDA_ROOT", absolute.string().c_str());
#else
    setenv("PDA_ROOT", absolute.string().c_str(), 1);
#endif
  }
  const std::string root = machineRoot();

  const std::string baseDir =
      root + kSep + "Program Files" + kSep + "Tessaro" + kSep + "Quillon" + kSep;
  const std::string systemDir = root + kSep + "System32";
  const std::string dataDir =
      root + kSep + "ProgramData" + kSep + "Tessaro" + kSep + "Tessaro Quillon" + kSep;
  const std::string configDb = dataDir + "Quillon.db";
  const std::string analyticsDb = dataDir + "DataAnalytics.db";

  std::error_code ec;
  for (const std::string& db : {configDb, analyticsDb})
    if (fs::exists(db, ec) || fs::is_symlink(db, ec))
      throw WriteError("'" + db + "' already exists; remove it first to start over");

  const std::string library = systemSqliteLibrary();
  if (library.empty())
    throw WriteError("cannot find the system's SQLite library (libsqlite3.so.0)");

  makeDirs(baseDir + "bin");
  makeDirs(systemDir);
  makeDirs(dataDir);

  // The suite loads SQLite from its own bin directory; a link left by an
  // earlier init is replaced so that it names the library found now.
  const std::string link = baseDir + "bin" + kSep + "SQLite.Interop.dll";
  if (fs::is_symlink(link, ec)) fs::remove(link, ec);
  if (!fs::exists(link, ec)) {
    fs::create_symlink(library, link, ec);
    if (ec) throw WriteError("cannot link '" + link + "' to '" + library + "': " + ec.message());
  }

  const std::string marker = systemDir + kSep + "brix32.dll";
  if (!fs::exists(marker, ec)) {
    std::FILE* f = std::fopen(marker.c_str(), "wb");
    if (!f) throw WriteError("cannot create '" + marker + "'");
    std::fclose(f);
  }

  setBaseDir(baseDir);

  // A database that cannot be completed is removed again, so that a second
  // run is not refused by a half-made file.
  try {
    createDatabase(library, configDb, schema::kConfigTables, std::size(schema::kConfigTables));
    Database db(library, configDb, kOpenReadWriteCreate);
    db.execute("BEGIN");
    for (const char* sql : schema::kConfigSample) db.execute(sql);
    db.execute("COMMIT");
  } catch (...) {
    fs::remove(configDb, ec);
    throw;
  }
  try {
    createDatabase(library, analyticsDb, schema::kAnalyticsTables,
                   std::size(schema::kAnalyticsTables));
  } catch (...) {
    fs::remove(analyticsDb, ec);
    throw;
  }

  std::cout << "Installed the suite under " << root << "\n"
            << "  base directory     " << baseDir << "\n"
            << "  SQLite library     " << link << " -> " << library << "\n"
            << "  system marker      " << marker << "\n"
            << "  configuration      " << configDb << "\n"
            << "  usage analytics    " << analyticsDb << "\n"
            << "Next: pda show (reads the SQLite store), pda set NAME VALUE\n";
}

void registerInit(CLI::App& app) {
  auto options = std::make_shared<InitOptions>();
  CLI::App* init = app.add_subcommand(
      "init", "Lay out an installed suite with sample databases on the emulated machine");
  init->add_option("DIR", options->root, "Root of the emulated machine (default: $PDA_ROOT)");
  init->footer(
      "Examples:\n"
      "  PDA_ROOT=/tmp/machine pda init\n"
      "  pda init /tmp/machine        (the same, with DIR as the root)\n"
      "Refuses (exit status 1) when Quillon.db or DataAnalytics.db already exists.");
  init->callback([options]() { runInit(*options); });
}

}  // namespace

PDA_TOOL_COMMANDS("init", 5, registerInit);

}  // namespace pdatool

// pda init [DIR]: lays out an installed suite on the emulated machine (or,
// with DIR, under DIR as the machine's root): the SQLite library where the
// suite keeps it, the system marker, the configuration database (with the
// index of the configuration query and, unless --no-samples, a small sample
// configuration), the usage database, and last the "BaseDir" registry value.
//
// Decisions:
// - All or nothing: "BaseDir" is what makes the layout count as installed
//   for the library, so it is registered last; when any step fails, every
//   file and directory this run made is removed again (in reverse order) and
//   the command exits 1 with the reason. What existed before is never
//   touched, nor overwritten: an existing database makes it fail at once.
// - A relative root (DIR or $PDA_ROOT) is made absolute first, so that
//   "BaseDir" and the library link never depend on the working directory.
// - --base-dir DIR registers an existing base directory (the Debian package
//   puts the library link under /usr/lib/persisted-data-access/) instead of
//   making one under the root; its bin/SQLite.Interop.dll must load.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <pda/Win32.h>

#include "Command.h"
#include "Database.h"
#include "PlatformSeam.h"
#include "Schema.h"

namespace pdatool {

namespace {

namespace fs = std::filesystem;

const char* const kSuiteKey = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";

struct InitOptions {
  std::string root;
  std::string baseDir;
  bool noSamples = false;
};

#if defined(_WIN32)
const char kSep = '\\';
#else
const char kSep = '/';
#endif

// What this run made, undone in reverse order unless the run completes.
class Made {
 public:
  ~Made() {
    if (_kept) return;
    std::error_code ec;
    for (auto it = _paths.rbegin(); it != _paths.rend(); ++it) fs::remove(*it, ec);
  }
  void add(const std::string& path) { _paths.push_back(path); }
  void keep() { _kept = true; }

  // Creates dir and its missing parents, each remembered.
  void directories(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return;
    if (dir.has_parent_path() && dir.parent_path() != dir) directories(dir.parent_path());
    if (!fs::create_directory(dir, ec) && !fs::is_directory(dir))
      throw WriteError("cannot create the directory '" + dir.string() +
                       "': " + (ec ? ec.message() : "a file has that name"));
    add(dir.string());
  }

 private:
  std::vector<std::string> _paths;
  bool _kept = false;
};

std::string absoluteDir(const std::string& dir, const char* what) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(dir, ec);
  if (ec)
    throw UsageError(std::string("cannot use '") + dir + "' as " + what + ": " + ec.message());
  return absolute.lexically_normal().string();
}

void createDatabase(Made& made, const std::string& library, const std::string& path,
                    const std::vector<const char*>& statements) {
  made.add(path);
  Database db(library, path, kOpenReadWriteCreate);
  DatabaseTransaction transaction(db);
  for (const char* sql : statements) db.execute(sql);
  transaction.commit();
}

void runInit(const InitOptions& options) {
  // The library finds the emulated machine through PDA_ROOT; it reads it at
  // every call, so setting it before the first call moves every path.
  const std::string root =
      absoluteDir(options.root.empty() ? machineRoot() : options.root, "the root");
#if defined(_WIN32)
  _putenv_s("PDA_ROOT", root.c_str());
#else
  setenv("PDA_ROOT", root.c_str(), 1);
#endif

  std::string baseDir = root + kSep + "Program Files" + kSep + "Tessaro" + kSep + "Quillon" + kSep;
  if (!options.baseDir.empty()) {
    baseDir = absoluteDir(options.baseDir, "the base directory");
    if (baseDir.back() != kSep) baseDir += kSep;
  }
  const std::string systemDir = root + kSep + "System32";
  const std::string dataDir =
      root + kSep + "ProgramData" + kSep + "Tessaro" + kSep + "Tessaro Quillon" + kSep;
  const std::string configDb = dataDir + "Quillon.db";
  const std::string analyticsDb = dataDir + "DataAnalytics.db";
  const std::string link = baseDir + "bin" + kSep + "SQLite.Interop.dll";

  std::error_code ec;
  for (const std::string& db : {configDb, analyticsDb})
    if (fs::exists(db, ec) || fs::is_symlink(db, ec))
      throw WriteError("'" + db + "' already exists; remove it first to start over");

  std::string library;
  if (options.baseDir.empty()) {
    library = systemSqliteLibrary();
    if (library.empty())
      throw WriteError("cannot find the system's SQLite library (libsqlite3.so.0)");
  } else {
    if (!fs::is_directory(baseDir, ec))
      throw WriteError("the base directory '" + baseDir + "' does not exist");
    const std::string problem = seam::libraryLoadProblem(link);
    if (!problem.empty()) throw WriteError("the base directory's SQLite library: " + problem);
    library = link;
  }

  Made made;
  made.directories(systemDir);
  made.directories(dataDir);
  if (options.baseDir.empty()) {
    made.directories(baseDir + "bin");
    // A link left by an earlier init is replaced so that it names the library
    // found now; anything else there is left alone and used.
    if (fs::is_symlink(link, ec)) fs::remove(link, ec);
    if (!fs::exists(link, ec)) {
      fs::create_symlink(library, link, ec);
      if (ec) throw WriteError("cannot link '" + link + "' to '" + library + "': " + ec.message());
      made.add(link);
    }
  }
  const std::string marker = systemDir + kSep + "brix32.dll";
  if (!fs::exists(marker, ec)) {
    std::FILE* f = std::fopen(marker.c_str(), "wb");
    if (!f) throw WriteError("cannot create '" + marker + "'");
    std::fclose(f);
    made.add(marker);
  }

  std::vector<const char*> config(std::begin(schema::kConfigTables),
                                  std::end(schema::kConfigTables));
  config.push_back(schema::kConfigIndex);
  if (!options.noSamples)
    config.insert(config.end(), std::begin(schema::kConfigSample), std::end(schema::kConfigSample));
  createDatabase(made, library, configDb, config);
  createDatabase(made, library, analyticsDb,
                 std::vector<const char*>(std::begin(schema::kAnalyticsTables),
                                          std::end(schema::kAnalyticsTables)));

  const long rc = seam::regSetText(kSuiteKey, "BaseDir", baseDir);
  if (rc != seam::kRegOk)
    throw WriteError("cannot register \"BaseDir\" under HKLM\\" + std::string(kSuiteKey) + ": " +
                     seam::regErrorText(rc) + "; nothing was installed");
  made.keep();

  std::cout << "Installed the suite under " << root << "\n"
            << "  base directory     " << baseDir << "\n"
            << "  SQLite library     " << link << (options.baseDir.empty() ? " -> " + library : "")
            << "\n"
            << "  system marker      " << marker << "\n"
            << "  configuration      " << configDb
            << (options.noSamples ? " (empty)" : " (a sample configuration)") << "\n"
            << "  usage analytics    " << analyticsDb << "\n"
            << "Next: pda doctor (checks it all), pda show, pda set NAME VALUE\n";
}

void registerInit(CLI::App& app) {
  auto options = std::make_shared<InitOptions>();
  CLI::App* init = app.add_subcommand(
      "init", "Lay out an installed suite with sample databases on the emulated machine");
  init->add_option("DIR", options->root, "Root of the emulated machine (default: $PDA_ROOT)");
  init->add_flag("--no-samples", options->noSamples,
                 "Empty databases with the full schema, no sample configuration");
  init->add_option("--base-dir", options->baseDir,
                   "Register this existing base directory (its bin/SQLite.Interop.dll must "
                   "load) instead of making one under the root")
      ->type_name("DIR");
  init->footer(
      "Examples:\n"
      "  PDA_ROOT=/tmp/machine pda init\n"
      "  pda init /tmp/machine        (the same, with DIR as the root)\n"
      "  pda init --no-samples --base-dir /usr/lib/persisted-data-access\n"
      "Refuses (exit status 1) when Quillon.db or DataAnalytics.db already exists; on any\n"
      "failure it removes what it made, so the machine is left as it was.");
  init->callback([options]() { runInit(*options); });
}

}  // namespace

PDA_TOOL_COMMANDS("init", 5, registerInit);

}  // namespace pdatool

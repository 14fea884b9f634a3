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
#include "SuiteLayout.h"

namespace pdatool {

namespace {

namespace fs = std::filesystem;

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

std::string absoluteDir(const std::string& dir, const char* what) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(dir, ec);
  if (ec)
    throw UsageError(std::string("cannot use '") + dir + "' as " + what + ": " + ec.message());
  return absolute.lexically_normal().string();
}

void install(const InitOptions& options) {
  // The library finds the emulated machine through PDA_ROOT; it reads it at
  // every call, so setting it before the first call moves every path.
  const std::string root =
      absoluteDir(options.root.empty() ? machineRoot() : options.root, "the root");
#if defined(_WIN32)
  _putenv_s("PDA_ROOT", root.c_str());
#else
  setenv("PDA_ROOT", root.c_str(), 1);
#endif

  pdasuite::Layout layout = pdasuite::layoutUnder(root);
  if (!options.baseDir.empty()) {
    layout.baseDir = absoluteDir(options.baseDir, "the base directory");
    if (layout.baseDir.back() != kSep) layout.baseDir += kSep;
  }

  std::error_code ec;
  for (const std::string& db : {layout.configDatabase(), layout.analyticsDatabase()})
    if (fs::exists(db, ec) || fs::is_symlink(db, ec))
      throw WriteError("'" + db + "' already exists; remove it first to start over");

  std::string library;
  if (options.baseDir.empty()) {
    library = systemSqliteLibrary();
    if (library.empty())
      throw WriteError("cannot find the system's SQLite library (libsqlite3.so.0)");
  } else {
    if (!fs::is_directory(layout.baseDir, ec))
      throw WriteError("the base directory '" + layout.baseDir + "' does not exist");
    const std::string problem = seam::libraryLoadProblem(layout.library());
    if (!problem.empty()) throw WriteError("the base directory's SQLite library: " + problem);
    library = layout.library();
  }

  pdasuite::Installation installation(layout);
  installation.makeDirectories();
  if (options.baseDir.empty()) installation.placeLibrary(library);
  installation.placeMarker();
  installation.createDatabase(layout.configDatabase(),
                              pdasuite::configStatements(!options.noSamples), library);
  installation.createDatabase(layout.analyticsDatabase(), pdasuite::analyticsStatements(), library);
  installation.registerBaseDir();
  installation.keep();

  std::cout << "Installed the suite under " << root << "\n"
            << "  base directory     " << layout.baseDir << "\n"
            << "  SQLite library     " << layout.library()
            << (options.baseDir.empty() ? " -> " + library : "") << "\n"
            << "  system marker      " << layout.marker() << "\n"
            << "  configuration      " << layout.configDatabase()
            << (options.noSamples ? " (empty)" : " (a sample configuration)") << "\n"
            << "  usage analytics    " << layout.analyticsDatabase() << "\n"
            << "Next: pda doctor (checks it all), pda show, pda set NAME VALUE\n";
}

void runInit(const InitOptions& options) {
  try {
    install(options);
  } catch (const pdasuite::InstallError& error) {
    if (error.code() != 0)
      throw WriteError("cannot register \"BaseDir\" under HKLM\\" +
                       std::string(pdasuite::kSuiteKey) + ": " + seam::regErrorText(error.code()) +
                       "; nothing was installed");
    throw WriteError(std::string(error.what()) + "; nothing was installed");
  }
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

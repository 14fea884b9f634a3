#include "StoreHealth.h"

#include <filesystem>
#include <system_error>

#include <pda/Win32.h>
#include "Command.h"
#include "Database.h"
#include "PlatformSeam.h"

namespace pdatool {

namespace {

// Where the registry store keeps the records, below HKEY_LOCAL_MACHINE.
const char* const kRegistryStoreKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::string withSeparator(std::string dir) {
#if defined(_WIN32)
  const char sep = '\\';
#else
  const char sep = '/';
#endif
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += sep;
  return dir;
}

std::string quoted(const std::string& path) {
  return "'" + path + "'";
}

// Values the registry store's reader cannot take end the read of their key:
// reported for the store's key and every key below it.
void oversizedValues(const std::string& key, std::vector<Problem>* out, int depth = 0) {
  std::vector<seam::RegEntry> values;
  if (seam::regReadValues(key, &values) != seam::kRegOk) return;
  for (const seam::RegEntry& v : values) {
    if (v.name.size() + 1 > seam::kRegistryReadLimit || v.data.size() > seam::kRegistryReadLimit) {
      out->push_back({"the registry key HKLM\\" + key,
                      "the value '" + v.name.substr(0, 40) + (v.name.size() > 40 ? "..." : "") +
                          "' has " + std::to_string(v.data.size()) + " bytes of data and a " +
                          std::to_string(v.name.size()) +
                          "-character name; the registry store reads at most 1,024 bytes of "
                          "each, so it and every value after it in the key read as missing"});
      break;
    }
  }
  std::vector<std::string> subKeys;
  if (depth < 8 && seam::regSubKeys(key, &subKeys) == seam::kRegOk)
    for (const std::string& sub : subKeys) oversizedValues(key + "\\" + sub, out, depth + 1);
}

std::vector<Problem> registryProblems() {
  std::vector<Problem> problems;
  const std::string dirProblem = seam::registryDirectoryProblem();
  if (!dirProblem.empty()) return {{"the registry", dirProblem}};
  std::vector<seam::RegEntry> values;
  const long rc = seam::regReadValues(kRegistryStoreKey, &values);
  if (rc != seam::kRegOk && rc != seam::kRegNotFound)
    return {{"the registry key HKLM\\" + std::string(kRegistryStoreKey), seam::regErrorText(rc)}};
  for (const std::string& file : seam::damagedValuesFiles(kRegistryStoreKey))
    problems.push_back({"the registry", "the values file " + quoted(file) +
                                            " is damaged (its checksum or lengths do not match), "
                                            "so its key reads as empty"});
  oversizedValues(kRegistryStoreKey, &problems);
  return problems;
}

std::vector<Problem> sqliteProblems(const std::string& what, const std::string& path,
                                    bool mustExist) {
  const std::string library = sqliteLibraryPath();
  const std::string loadProblem = seam::libraryLoadProblem(library);
  if (!loadProblem.empty()) return {{"the SQLite library " + quoted(library), loadProblem}};
  if (!fileExists(path)) {
    if (!mustExist) return {};
    return {{what + " " + quoted(path), "the file does not exist (pda init creates it)"}};
  }
  const std::string readProblem = databaseReadProblem(library, path);
  if (!readProblem.empty()) return {{what + " " + quoted(path), readProblem}};
  return {};
}

// Database's messages begin with the quoted path, which the problem names
// already.
std::string withoutPath(const std::string& message, const std::string& path) {
  const std::string prefix = quoted(path) + ": ";
  std::string out = message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
  const std::size_t in = out.find(" (in: ");
  return in == std::string::npos ? out : out.substr(0, in);
}

}  // namespace

std::vector<Problem> registryValueSizeProblems() {
  std::vector<Problem> problems;
  oversizedValues(kRegistryStoreKey, &problems);
  return problems;
}

DataSource resolveSource(DataSource requested) {
  return requested != UnknownDataSource ? requested : KestRecord::getGlobalDefaultDataSource();
}

std::string sqliteLibraryPath() {
  return withSeparator(DirUtilities::getBaseDir()) + "bin" +
#if defined(_WIN32)
         "\\SQLite.Interop.dll";
#else
         "/SQLite.Interop.dll";
#endif
}

std::string configDatabasePath() {
  return std::string(DirUtilities::getSharedDataDir()) + "Quillon.db";
}

std::string analyticsDatabasePath() {
  return std::string(DirUtilities::getSharedDataDir()) + "DataAnalytics.db";
}

std::string pxiDatabasePath() {
  return std::string(DirUtilities::getPxiDataDir()) + "RemotePXI.db";
}

std::vector<Problem> readProblems(DataSource resolved) {
  const std::string rootProblem = seam::machineRootProblem();
  if (!rootProblem.empty()) return {{"the emulated machine", rootProblem}};
  switch (resolved) {
    case RegistryDataSource:
      return registryProblems();
    case SQLiteDataSource:
      return sqliteProblems("the SQLite configuration database", configDatabasePath(), true);
    default:
      return {};
  }
}

std::vector<Problem> pxiProblems() {
  const std::string rootProblem = seam::machineRootProblem();
  if (!rootProblem.empty()) return {{"the emulated machine", rootProblem}};
  return sqliteProblems("the remote PXI database", pxiDatabasePath(), false);
}

void throwIfAny(const std::vector<Problem>& problems) {
  if (problems.empty()) return;
  std::string more;
  if (problems.size() > 1)
    more = " (and " + std::to_string(problems.size() - 1) + " more; pda doctor lists them)";
  throw WriteError(problems.front().line() + more);
}

void requireReadable(DataSource requested) {
  throwIfAny(readProblems(resolveSource(requested)));
}

std::string databaseReadProblem(const std::string& library, const std::string& path) {
  try {
    Database db(library, path, kOpenReadOnly);
    db.query("SELECT count(*) FROM sqlite_master");
    return "";
  } catch (const WriteError& e) {
    return withoutPath(e.what(), path);
  }
}

std::string databaseWriteProblem(const std::string& library, const std::string& path) {
  try {
    Database db(library, path, kOpenReadWrite);
    DatabaseTransaction probe(db);  // taken, then rolled back: nothing is written
    return "";
  } catch (const WriteError& e) {
    return withoutPath(e.what(), path);
  }
}

void checkWritable(DataSource resolved, const std::string& name, const std::string& text) {
  if (resolved != RegistryDataSource && resolved != SQLiteDataSource)
    throw WriteError("cannot set " + name + ": " + describeDataSource(resolved) +
                     " keep nothing that is written to them (pda init installs a store; "
                     "--source registry or sqlite picks one)");
  for (const Problem& p : readProblems(resolved))
    throw WriteError("cannot set " + name + ": " + p.line());
  if (text.size() > kLongestReadableText)
    throw WriteError("cannot set " + name + ": the text has " + std::to_string(text.size()) +
                     " bytes, and the records read back at most " +
                     std::to_string(kLongestReadableText));
  if (resolved == RegistryDataSource && text.size() + 1 > seam::kRegistryReadLimit)
    throw WriteError("cannot set " + name + ": the text has " + std::to_string(text.size()) +
                     " bytes, and the registry store reads back at most 1,023 (1,024 with its "
                     "terminator); a longer value would also hide every value after it");
}

std::string writeRefusal(DataSource resolved) {
  for (const Problem& p : readProblems(resolved)) return p.line();
  if (resolved == RegistryDataSource) {
    const long rc = seam::regProbeWrite(kRegistryStoreKey);
    if (rc != seam::kRegOk)
      return "the registry key HKLM\\" + std::string(kRegistryStoreKey) + ": " +
             seam::regErrorText(rc);
    return "the registry refused the value (pda log --type error has the library's report)";
  }
  if (resolved == SQLiteDataSource) {
    const std::string path = configDatabasePath();
    const std::string problem = databaseWriteProblem(sqliteLibraryPath(), path);
    if (!problem.empty())
      return "the SQLite configuration database " + quoted(path) + ": " + problem;
    return "SQLite refused the write (pda log --type error has the library's report)";
  }
  return std::string(describeDataSource(resolved)) + " keep nothing";
}

}  // namespace pdatool

#include "BenchData.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "SuiteLayout.h"
#include "SuiteSchema.h"
#include "base/Text.h"
#include "platform/platform.h"
#include "platform/posix/ValuesFile.h"

namespace fs = std::filesystem;

namespace pdabench {

namespace {

const char kConfigKey[] = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";
const char kConfigKeyDir[] = "registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion";

HKEY createKey(const std::string& path) {
  HKEY key = nullptr;
  const LONG rc =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS)
    throw std::runtime_error("cannot create registry key " + path + " (error " +
                             std::to_string(rc) + ")");
  return key;
}

// A persistent id in the 8-4-4-4-12 form. The digits are scrambled so that
// the order of the keys is not the order of the records.
std::string guid(std::uint64_t n) {
  std::uint64_t x = (n + 1) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-8%03X-%012llX", static_cast<unsigned>(x >> 32),
                static_cast<unsigned>(x & 0xFFFF), static_cast<unsigned>((x >> 16) & 0xFFF),
                static_cast<unsigned>(n & 0xFFF), static_cast<unsigned long long>(n));
  return text;
}

const char* const kInterfaceTypes[] = {"GPIB", "TCPIP", "USB"};

std::string visaName(std::size_t interfaceIndex) {
  return pda::format("%s%zu", kInterfaceTypes[interfaceIndex % 3], interfaceIndex);
}

std::string visaAddress(std::size_t interfaceIndex, std::size_t device) {
  switch (interfaceIndex % 3) {
    case 0:
      return pda::format("GPIB%zu::%zu::INSTR", interfaceIndex, device + 1);
    case 1:
      return pda::format("TCPIP%zu::192.168.%zu.%zu::inst0::INSTR", interfaceIndex,
                         interfaceIndex % 250, device + 10);
    default:
      return pda::format("USB%zu::0x2A8D::0x%04zX::MY%08zu::0::INSTR", interfaceIndex,
                         0x1300 + device, interfaceIndex * 100 + device);
  }
}

pda::platform::RegValue regString(const char* name, const std::string& text) {
  pda::platform::RegValue v;
  v.name = name;
  v.type = REG_SZ;
  v.data.assign(text.c_str(), text.size() + 1);  // stored with its terminator
  return v;
}

pda::platform::RegValue regDword(const char* name, std::uint32_t number) {
  pda::platform::RegValue v;
  v.name = name;
  v.type = REG_DWORD;
  for (int i = 0; i < 4; ++i) v.data += static_cast<char>((number >> (8 * i)) & 0xFF);
  return v;
}

void writeWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

// ---------------------------------------------------------------------------
// Machine

Machine::Machine(const std::string& sqliteLibrary) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pda-bench-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) throw std::runtime_error("cannot make a temporary folder");
  _root = buffer.data();
  ::setenv("PDA_ROOT", _root.c_str(), 1);
  ::unsetenv("PDA_REGISTRY_READONLY");

  pdasuite::installPlain(pdasuite::layoutUnder(_root), sqliteLibrary);
}

Machine::~Machine() {
  if (std::getenv("PDA_KEEP_BENCH_ROOT")) return;
  std::error_code ignored;
  fs::remove_all(_root, ignored);
}

std::string Machine::dataDir() const {
  return pdasuite::layoutUnder(_root).dataDir;
}
std::string Machine::baseDir() const {
  return pdasuite::layoutUnder(_root).baseDir;
}
std::string Machine::configDb() const {
  return dataDir() + "Quillon.db";
}
std::string Machine::sqliteLibrary() const {
  return pdasuite::layoutUnder(_root).library();
}

// ---------------------------------------------------------------------------
// RawSQLite

namespace {

template <typename Fn>
void bind(HMODULE module, const char* name, Fn& slot) {
  FARPROC address = GetProcAddress(module, name);
  if (!address) throw std::runtime_error(std::string("the SQLite library lacks ") + name);
  slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

RawSQLite::RawSQLite(const std::string& libraryPath) : _module(LoadLibraryA(libraryPath.c_str())) {
  if (!_module) throw std::runtime_error("cannot load the SQLite library " + libraryPath);
  HMODULE m = static_cast<HMODULE>(_module);
  bind(m, "sqlite3_open_v2", open_v2);
  bind(m, "sqlite3_close_v2", close_v2);
  bind(m, "sqlite3_prepare_v2", prepare_v2);
  bind(m, "sqlite3_step", step);
  bind(m, "sqlite3_reset", reset);
  bind(m, "sqlite3_finalize", finalize);
  bind(m, "sqlite3_column_text", column_text);
  bind(m, "sqlite3_bind_text", bind_text);
  bind(m, "sqlite3_exec", exec_);
  bind(m, "sqlite3_errmsg", errmsg);
  bind(m, "sqlite3_free", free_);
}

RawSQLite::~RawSQLite() {
  FreeLibrary(static_cast<HMODULE>(_module));
}

sqlite3* RawSQLite::open(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != kOk) {
    const std::string message = db ? errmsg(db) : "out of memory";
    if (db) close_v2(db);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  return db;
}

void RawSQLite::exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (exec_(db, sql.c_str(), nullptr, nullptr, &message) != kOk) {
    const std::string text = message ? message : "unknown error";
    free_(message);
    throw std::runtime_error("SQL failed: " + text + " in: " + sql);
  }
}

sqlite3_stmt* RawSQLite::prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &statement, nullptr) != kOk)
    throw std::runtime_error(std::string("cannot prepare ") + sql + ": " + errmsg(db));
  return statement;
}

void RawSQLite::close(sqlite3* db) {
  if (db) close_v2(db);
}

// ---------------------------------------------------------------------------
// Data sets

std::vector<Setting> settingsRows(std::size_t rows) {
  // Values of the settings record as an installed suite holds them.
  static const Setting kKnown[] = {
      {"QuillonVisaPresent", "1"},
      {"Gpib32Status", "1"},
      {"Vantrel488Enabled", "1"},
      {"Vantrel488EnabledOverride", "0"},
      {"Vantrel488Warning", "0"},
      {"Verbose4882", "0"},
      {"UseLegacyPxiInstrFormat", "True"},
      {"IOControlHidden", "True"},
      {"InstallLevel", "3"},
      {"RmDialogHidden", "0"},
      {"IoControlStartupTimeoutMilliseconds", "240000"},
      {"NkoStartupTimeoutMilliseconds", "120000"},
      {"AutoStartIOServer", "1"},
      {"DataDir", "C:\\ProgramData\\Tessaro\\Tessaro Quillon\\"},
      {"WaitForIOReadyMilliseconds", "240000"},
      {"VisaPxiImplementation", "2"},
      {"DmcLoggingLevel", "DEBUG"},
      {"CurrentVersion", "1.2.0.0"},
      {"CustomBuild", "Build 1842"},
      {"MultiThreadingEnabled", "True"},
  };
  std::vector<Setting> out;
  out.reserve(rows);
  for (const Setting& s : kKnown) {
    if (out.size() == rows) return out;
    out.push_back(s);
  }
  for (std::size_t i = 0; out.size() < rows; ++i)
    out.push_back(
        {pda::format("UserSetting%04zu", i), pda::format("value of user setting %zu", i)});
  return out;
}

std::size_t interfacesIn(std::size_t records) {
  return (records + 20) / 21;
}

std::vector<ConfigRow> configRows(std::size_t records) {
  std::vector<ConfigRow> rows;
  rows.reserve(records * 8);
  for (std::size_t r = 0; r < records; ++r) {
    const std::string key = guid(r);
    const std::size_t intf = r / 21;
    auto add = [&](const char* name, std::string value) {
      rows.push_back({key, name, std::move(value)});
    };
    if (r % 21 == 0) {
      const std::string name = visaName(intf);
      add("RecordType", "Interface");
      add("PersistentId", key);
      add("VISAName", name);
      add("Name", name);
      add("VISAIntfType", kInterfaceTypes[intf % 3]);
      add("LogicalUnit", pda::format("%zu", intf));
      add("SystemController", "True");
      add("Label", pda::format("Bench interface %zu", intf));
    } else {
      const std::size_t device = r % 21 - 1;
      add("RecordType", "Device");
      add("PersistentId", key);
      add("ParentHashKey", guid(intf * 21));
      add("VisaAddress", visaAddress(intf, device));
      add("Model", pda::format("MX%04zu", 3000 + device));
      add("SerialNumber", pda::format("SN%08zu", r));
      add("FirmwareRevision", pda::format("A.%02zu.%02zu", device % 7, r % 100));
      add("Timeout", "2000");
    }
  }
  return rows;
}

void createConfigDatabase(RawSQLite& sqlite, const std::string& path,
                          const std::vector<Setting>& settings,
                          const std::vector<ConfigRow>& config) {
  std::error_code ignored;
  fs::remove(path, ignored);
  sqlite3* db = sqlite.open(path, RawSQLite::kOpenReadWrite | RawSQLite::kOpenCreate);
  // The transient destructor: SQLite copies each bound text.
  void (*const transient)(void*) = reinterpret_cast<void (*)(void*)>(-1);
  sqlite3_stmt* insertSetting = nullptr;
  sqlite3_stmt* insertConfig = nullptr;
  try {
    // The installed suite's tables without the index of the configuration
    // query: rows 3a to 3d measure the query as the library meets it there.
    for (const char* table : pdasuite::kConfigTables) sqlite.exec(db, table);
    sqlite.exec(db, "BEGIN;");
    insertSetting = sqlite.prepare(db, "INSERT INTO KestInfo VALUES(NULL, ?, ?);");
    for (const Setting& s : settings) {
      sqlite.bind_text(insertSetting, 1, s.name.c_str(), -1, transient);
      sqlite.bind_text(insertSetting, 2, s.value.c_str(), -1, transient);
      if (sqlite.step(insertSetting) != RawSQLite::kDone)
        throw std::runtime_error(std::string("cannot insert a setting: ") + sqlite.errmsg(db));
      sqlite.reset(insertSetting);
    }
    insertConfig = sqlite.prepare(db, "INSERT INTO ConfigData VALUES(NULL, ?, ?, ?);");
    for (const ConfigRow& row : config) {
      sqlite.bind_text(insertConfig, 1, row.key.c_str(), -1, transient);
      sqlite.bind_text(insertConfig, 2, row.name.c_str(), -1, transient);
      sqlite.bind_text(insertConfig, 3, row.value.c_str(), -1, transient);
      if (sqlite.step(insertConfig) != RawSQLite::kDone)
        throw std::runtime_error(std::string("cannot insert a record row: ") + sqlite.errmsg(db));
      sqlite.reset(insertConfig);
    }
    sqlite.finalize(insertSetting);
    insertSetting = nullptr;
    sqlite.finalize(insertConfig);
    insertConfig = nullptr;
    sqlite.exec(db, "COMMIT;");
  } catch (...) {
    if (insertSetting) sqlite.finalize(insertSetting);
    if (insertConfig) sqlite.finalize(insertConfig);
    sqlite.close(db);
    throw;
  }
  sqlite.close(db);
}

std::vector<std::string> createRegistryConfig(const Machine& machine, int interfaces,
                                              int devicesPerInterface) {
  using pda::platform::RegValue;
  const std::string baseDir = machine.root() + "/" + kConfigKeyDir;
  std::vector<std::string> interfaceFiles;
  std::vector<std::string> deviceFiles;
  auto writeKey = [&](const std::string& keyPath, const std::string& dir,
                      const std::vector<RegValue>& values, std::vector<std::string>* files) {
    RegCloseKey(createKey(keyPath));
    if (!fs::is_directory(dir))
      throw std::runtime_error("registry key " + keyPath + " is not at " + dir);
    const std::string file = dir + "/" + pda::platform::kValuesFileName;
    writeWholeFile(file, pda::platform::serializeValues(values));
    files->push_back(file);
  };
  for (int i = 0; i < interfaces; ++i) {
    const std::string intfKey = pda::format("%s\\INTF%d", kConfigKey, i);
    const std::string intfDir = pda::format("%s/INTF%d", baseDir.c_str(), i);
    const std::string name = visaName(static_cast<std::size_t>(i));
    writeKey(intfKey, intfDir,
             {regString("VISAName", name), regString("Name", name),
              regString("VISAIntfType", kInterfaceTypes[i % 3]),
              regDword("LogicalUnit", static_cast<std::uint32_t>(i)),
              regString("SystemController", "True"), regDword("Timeout", 2000),
              regString("Label", pda::format("Bench interface %d", i)),
              regString("PersistentId", guid(static_cast<std::uint64_t>(i) * 21))},
             &interfaceFiles);
    for (int d = 0; d < devicesPerInterface; ++d) {
      const std::uint64_t record =
          static_cast<std::uint64_t>(i) * 21 + static_cast<std::uint64_t>(d) + 1;
      writeKey(pda::format("%s\\dev%02d", intfKey.c_str(), d),
               pda::format("%s/dev%02d", intfDir.c_str(), d),
               {regString("Model", pda::format("MX%04d", 3000 + d)),
                regString("SerialNumber",
                          pda::format("SN%08llu", static_cast<unsigned long long>(record))),
                regString("FirmwareRevision", pda::format("A.%02d.%02d", d % 7, i % 100)),
                regDword("Timeout", 2000), regString("Label", pda::format("Bench device %d", d)),
                regString("PersistentId", guid(record)),
                regString("Manufacturer", "Bench Instruments"), regDword("Enabled", 1)},
               &deviceFiles);
    }
  }
  interfaceFiles.insert(interfaceFiles.end(), deviceFiles.begin(), deviceFiles.end());
  return interfaceFiles;
}

// ---------------------------------------------------------------------------
// Baselines

int mapGetInt32(const NameValueMap& map, const char* name, int defaultValue) {
  const auto it = map.find(name);
  if (it == map.end() || it->second.empty()) return defaultValue;
  return pda::textToInt(it->second.c_str());
}

int mapGetBool(const NameValueMap& map, const char* name, int defaultValue) {
  const auto it = map.find(name);
  if (it == map.end() || it->second.empty()) return defaultValue;
  return pda::textToInt(it->second.c_str()) != 0 ? 1 : 0;
}

void mapGetString(const NameValueMap& map, const char* name, char* buffer, unsigned int size,
                  const char* defaultValue) {
  const auto it = map.find(name);
  const char* text = it == map.end() || it->second.empty() ? defaultValue : it->second.c_str();
  pda::copyWhole(buffer, size, text);
}

void rawReadTable(RawSQLite& sqlite, sqlite3* db, const char* table, NameValueMap* map) {
  const std::string sql = pda::format("SELECT NAME, VALUE FROM '%s';", table);
  sqlite3_stmt* statement = nullptr;
  if (sqlite.prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &statement, nullptr) !=
      RawSQLite::kOk)
    throw std::runtime_error("cannot prepare " + sql);
  while (sqlite.step(statement) == RawSQLite::kRow) {
    const char* name = reinterpret_cast<const char*>(sqlite.column_text(statement, 0));
    if (!name || !*name) continue;
    const char* value = reinterpret_cast<const char*>(sqlite.column_text(statement, 1));
    (*map)[name] = value ? value : "";
  }
  sqlite.finalize(statement);
}

std::size_t rawQueryConfig(RawSQLite& sqlite, sqlite3* db) {
  static const char kSql[] = "SELECT IDKEY, NAME, VALUE FROM ConfigData ORDER BY IDKEY;";
  sqlite3_stmt* statement = nullptr;
  if (sqlite.prepare_v2(db, kSql, static_cast<int>(sizeof kSql), &statement, nullptr) !=
      RawSQLite::kOk)
    throw std::runtime_error(std::string("cannot prepare ") + kSql);
  std::size_t rows = 0;
  while (sqlite.step(statement) == RawSQLite::kRow) {
    for (int column = 0; column < 3; ++column) sqlite.column_text(statement, column);
    ++rows;
  }
  sqlite.finalize(statement);
  return rows;
}

RawWriter::RawWriter(RawSQLite& sqlite, sqlite3* db)
    : _sqlite(sqlite), _db(db), _begin(nullptr), _commit(nullptr), _rollback(nullptr) {
  _begin = sqlite.prepare(db, "BEGIN IMMEDIATE");
  _commit = sqlite.prepare(db, "COMMIT");
  _rollback = sqlite.prepare(db, "ROLLBACK");
}

RawWriter::~RawWriter() {
  for (sqlite3_stmt* statement : {_begin, _commit, _rollback})
    if (statement) _sqlite.finalize(statement);
}

bool RawWriter::run(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (_sqlite.prepare_v2(_db, sql.c_str(), static_cast<int>(sql.size() + 1), &statement, nullptr) !=
      RawSQLite::kOk)
    return false;
  const bool done = _sqlite.step(statement) == RawSQLite::kDone;
  _sqlite.finalize(statement);
  return done;
}

bool RawWriter::write(const char* table, const char* name, const char* value) {
  bool ok = _sqlite.step(_begin) == RawSQLite::kDone;
  if (ok) {
    ok = run(pda::format("DELETE FROM %s WHERE NAME = '%s';", table,
                         pda::sqlLiteral(name).c_str())) &&
         run(pda::format("INSERT INTO %s VALUES(NULL, '%s', '%s');", table,
                         pda::sqlLiteral(name).c_str(), pda::sqlLiteral(value).c_str())) &&
         _sqlite.step(_commit) == RawSQLite::kDone;
    if (!ok) _sqlite.step(_rollback);
  }
  for (sqlite3_stmt* statement : {_begin, _commit, _rollback}) _sqlite.reset(statement);
  return ok;
}

std::size_t readFiles(const std::vector<std::string>& paths) {
  std::size_t total = 0;
  char buffer[16384];
  for (const std::string& path : paths) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        total += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(fd);
        throw std::runtime_error("cannot read " + path);
      }
      break;
    }
    ::close(fd);
  }
  return total;
}

std::size_t nameValueBytes(const IKestBase* node) {
  if (!node) return 0;
  std::size_t total = 0;
  for (const auto& entry : node->rawNameValueMap())
    total += entry.first.size() + entry.second.size();
  for (const auto& child : node->rawSubKeyMap()) total += nameValueBytes(child.second);
  return total;
}

std::size_t nodeCount(const IKestBase* node) {
  if (!node) return 0;
  std::size_t total = 1;
  for (const auto& child : node->rawSubKeyMap()) total += nodeCount(child.second);
  return total;
}

}  // namespace pdabench

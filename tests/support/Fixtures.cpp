#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/platform.h"

#if !defined(_WIN32)
#  include <sys/stat.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

namespace pdatest {

namespace {

const char* const kSuiteKey = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";

void makeDirs(const std::string& path) {
  std::string partial;
  for (std::size_t i = 0; i < path.size(); ++i) {
    partial += path[i];
    if ((path[i] == '/' || i + 1 == path.size()) && partial.size() > 1) {
#if defined(_WIN32)
      _mkdir(partial.c_str());
#else
      mkdir(partial.c_str(), 0755);
#endif
    }
  }
}

void touch(const std::string& path) {
  std::ofstream f(path, std::ios::binary);
  f << "marker";
}

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

HKEY createKey(const std::string& key) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot create registry key " + key);
  return h;
}

}  // namespace

TempMachine::TempMachine() {
#if defined(_WIN32)
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  _root = std::string(tmp) + "pda-test-" + std::to_string(GetCurrentProcessId());
  _mkdir(_root.c_str());
#else
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/pda-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  _root = buf.data();
  setenv("PDA_ROOT", _root.c_str(), 1);
  unsetenv("PDA_REGISTRY_READONLY");
#endif
}

TempMachine::~TempMachine() {
#if !defined(_WIN32)
  if (std::getenv("PDA_KEEP_TEST_ROOT") == nullptr) run("rm -rf " + shellQuote(_root));
#endif
}

std::string TempMachine::path(const std::string& rel) const { return _root + "/" + rel; }

std::string TempMachine::dataDir() const { return path("ProgramData/Tessaro/Tessaro Quillon/"); }
std::string TempMachine::pxiDir() const { return dataDir() + "PXI/"; }
std::string TempMachine::baseDir() const { return path("Program Files/Tessaro/Quillon/"); }
std::string TempMachine::systemDir() const { return path("System32"); }

void TempMachine::installSuite(bool withLibrary) const {
  makeDirs(baseDir() + "bin");
  makeDirs(systemDir());
  makeDirs(pxiDir());
  touch(systemDir() + "/brix32.dll");
  if (withLibrary) {
#if !defined(_WIN32)
    std::string lib = baseDir() + "bin/SQLite.Interop.dll";
    if (symlink(PDA_SQLITE_LIBRARY, lib.c_str()) != 0)
      throw std::runtime_error("cannot link the SQLite library");
#endif
  }
  regSetString(kSuiteKey, "BaseDir", baseDir());
}

std::string TempMachine::createConfigDatabase() const {
  makeDirs(dataDir());
  std::string db = dataDir() + "Quillon.db";
  sqlite(db,
         "CREATE TABLE KestInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT);"
         "CREATE TABLE VisaInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT);"
         "CREATE TABLE SorrelParamInfo(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT);"
         "CREATE TABLE InstrumentFavorites(ID INTEGER PRIMARY KEY, NAME TEXT, VALUE TEXT);"
         "CREATE TABLE ConfigData(ID INTEGER PRIMARY KEY, IDKEY TEXT, NAME TEXT, VALUE TEXT);"
         "CREATE TABLE InstrAliasInfo(ID INTEGER PRIMARY KEY, IDKEY TEXT, NAME TEXT, VALUE TEXT);");
  return db;
}

int run(const std::string& command, std::string* out) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
#if defined(_WIN32)
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string sqlite(const std::string& db, const std::string& sql) {
  std::string script = db + ".sql-XXXXXX";
  std::vector<char> buf(script.begin(), script.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  FILE* f = fdopen(fd, "w");
  std::fputs(sql.c_str(), f);
  std::fclose(f);
  std::string out;
  int rc = run("sqlite3 -batch " + shellQuote(db) + " < " + shellQuote(buf.data()) + " 2>&1", &out);
  std::remove(buf.data());
  if (rc != 0) ADD_FAILURE() << "sqlite3 failed (" << rc << ") on: " << sql << "\n" << out;
  return out;
}

std::string sqlQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::vector<Event> readEvents() {
  std::vector<Event> events;
  const char* root = std::getenv("PDA_ROOT");
  if (!root) return events;
  std::ifstream f(std::string(root) + "/EventLog/Application.log");
  std::string line;
  while (std::getline(f, line)) {
    // time \t pid \t source \t TYPE \t id \t message (\\, \n, \r, \t escaped)
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int i = 0; i < 5; ++i) {
      std::size_t tab = line.find('\t', start);
      if (tab == std::string::npos) break;
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    if (fields.size() != 5) continue;
    Event e;
    e.source = fields[2];
    e.type = fields[3];
    e.id = std::atoi(fields[4].c_str());
    std::string raw = line.substr(start);
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size()) {
        char c = raw[++i];
        e.message += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
      } else {
        e.message += raw[i];
      }
    }
    events.push_back(e);
  }
  return events;
}

void regSetRaw(const std::string& key, const std::string& name, unsigned int type,
               const std::string& bytes) {
  HKEY h = createKey(key);
  LONG rc = RegSetValueExA(h, name.c_str(), 0, type,
                           reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size()));
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot set registry value " + name);
}

void regSetString(const std::string& key, const std::string& name, const std::string& value) {
  regSetRaw(key, name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

void regSetDword(const std::string& key, const std::string& name, unsigned int value) {
  std::string bytes(reinterpret_cast<const char*>(&value), 4);
  regSetRaw(key, name, REG_DWORD, bytes);
}

bool regGet(const std::string& key, const std::string& name, unsigned int* type,
            std::string* bytes) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h) !=
      ERROR_SUCCESS)
    return false;
  DWORD t = 0, size = 0;
  LONG rc = RegQueryValueExA(h, name.c_str(), nullptr, &t, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    std::string data(size, '\0');
    rc = RegQueryValueExA(h, name.c_str(), nullptr, &t,
                          reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]), &size);
    data.resize(size);
    if (bytes) *bytes = data;
    if (type) *type = t;
  }
  RegCloseKey(h);
  return rc == ERROR_SUCCESS;
}

}  // namespace pdatest

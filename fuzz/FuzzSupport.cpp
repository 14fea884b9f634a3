#include "FuzzSupport.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "SuiteLayout.h"
#include "SuiteSchema.h"

namespace pdafuzz {

namespace {

const int kOpenReadWriteCreate = 0x2 | 0x4;
const int kRow = 100;
const int kDone = 101;
const int kNullType = 5;

std::string _root;

void removeMachine() {
  if (!_root.empty() && std::getenv("PDA_KEEP_FUZZ_ROOT") == nullptr) {
    std::error_code ignored;
    std::filesystem::remove_all(_root, ignored);
  }
}

}  // namespace

// Holds a NUL, which no text of a column read as a C string can.
const std::string kNullText("\0NULL", 5);

bool ciEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

const std::string& machine() {
  if (!_root.empty()) return _root;
  // Memory-backed when there is such a folder: the targets write databases
  // at every input.
  struct stat st;
  const char* base =
      ::stat("/dev/shm", &st) == 0 && ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = std::string(base) + "/pda-fuzz-XXXXXX";
  std::vector<char> buffer(tmpl.begin(), tmpl.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) fail("mkdtemp failed");
  _root = buffer.data();
  ::setenv("PDA_ROOT", _root.c_str(), 1);
  ::unsetenv("PDA_REGISTRY_READONLY");
  std::atexit(removeMachine);

  try {
    pdasuite::installPlain(pdasuite::layoutUnder(_root), PDA_SQLITE_LIBRARY);
  } catch (const pdasuite::InstallError& error) {
    fail(error.what());
  }
  std::string tables;
  for (const char* statement : pdasuite::kConfigTables) tables += std::string(statement) + ";";
  Database(configDatabase()).exec(tables);
  return _root;
}

std::string configDatabase() {
  return pdasuite::layoutUnder(machine()).configDatabase();
}

Database::Database(const std::string& path) : _lib(PDA_SQLITE_LIBRARY) {
  if (!_lib._hModule) fail("cannot load " PDA_SQLITE_LIBRARY);
  if (_lib.sqlite3_open_v2(path.c_str(), &_db, kOpenReadWriteCreate, nullptr) != 0)
    fail("cannot open " + path);
  // This connection's own commits need not reach the disk: the targets
  // rebuild the tables at every input.
  exec("PRAGMA synchronous = OFF; PRAGMA journal_mode = MEMORY;");
}

Database::~Database() {
  if (_db) _lib.sqlite3_close_v2(_db);
  _lib.unload();
}

bool Database::tryExec(const std::string& sql) {
  const char* next = sql.c_str();
  while (next && *next) {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (_lib.sqlite3_prepare_v2(_db, next, -1, &statement, &tail) != 0) return false;
    int rc = kDone;
    if (statement) {
      do rc = _lib.sqlite3_step(statement);
      while (rc == kRow);
      _lib.sqlite3_finalize(statement);
    }
    if (rc != kDone) return false;
    next = tail;
  }
  return true;
}

void Database::exec(const std::string& sql) {
  if (!tryExec(sql))
    fail("statement failed: " + sql.substr(0, 300) + " (" + _lib.sqlite3_errmsg(_db) + ")");
}

std::vector<std::vector<std::string>> Database::rows(const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  sqlite3_stmt* statement = nullptr;
  if (_lib.sqlite3_prepare_v2(_db, sql.c_str(), -1, &statement, nullptr) != 0)
    fail("query failed: " + sql + " (" + _lib.sqlite3_errmsg(_db) + ")");
  const int columns = _lib.sqlite3_column_count(statement);
  int rc;
  while ((rc = _lib.sqlite3_step(statement)) == kRow) {
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) {
      if (_lib.sqlite3_column_type(statement, c) == kNullType) {
        row.push_back(kNullText);
        continue;
      }
      const unsigned char* text = _lib.sqlite3_column_text(statement, c);
      row.push_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    out.push_back(row);
  }
  _lib.sqlite3_finalize(statement);
  if (rc != kDone) fail("query did not finish: " + sql);
  return out;
}

std::string textLiteral(const std::string& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "CAST(X'";
  for (unsigned char c : bytes) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out + "' AS TEXT)";
}

uint8_t Input::byte() {
  if (_left == 0) return 0;
  --_left;
  return *_p++;
}

uint32_t Input::number(uint32_t bound) {
  if (bound == 0) return 0;
  uint32_t value = 0;
  for (int i = 0; i < 4 && _left > 0; ++i) value = (value << 8) | byte();
  return value % bound;
}

std::string Input::text() {
  std::string out;
  while (_left > 0) {
    const uint8_t c = byte();
    if (c == 0xFF) break;
    out += static_cast<char>(c);
  }
  return out;
}

std::string Input::cText() {
  std::string out = text();
  out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
  return out;
}

}  // namespace pdafuzz

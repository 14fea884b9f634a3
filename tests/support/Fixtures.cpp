#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "SuiteLayout.h"
#include "SuiteSchema.h"
#include "platform/platform.h"

namespace pdatest {

namespace {

HKEY createKey(const std::string& key) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &h, nullptr);
  if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot create registry key " + key);
  return h;
}

}  // namespace

std::string TempMachine::dataDir() const {
  return pdasuite::layoutUnder(_root).dataDir;
}
std::string TempMachine::pxiDir() const {
  return pdasuite::layoutUnder(_root).pxiDir;
}
std::string TempMachine::baseDir() const {
  return pdasuite::layoutUnder(_root).baseDir;
}
std::string TempMachine::systemDir() const {
  return pdasuite::layoutUnder(_root).systemDir;
}

void TempMachine::installSuite(bool withLibrary) const {
  pdasuite::installPlain(pdasuite::layoutUnder(_root), sqliteLibrary(), withLibrary);
}

// Through the sqlite3 client, an implementation of its own, with the
// installed suite's tables (without the index `pda init` adds).
std::string TempMachine::createConfigDatabase() const {
  std::filesystem::create_directories(dataDir());
  std::string db = dataDir() + "Quillon.db";
  std::string sql;
  for (const char* statement : pdasuite::kConfigTables) sql += std::string(statement) + ";\n";
  sqlite(db, sql);
  return db;
}

std::string sqlQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

void regSetRaw(const std::string& key, const std::string& name, unsigned int type,
               const std::string& bytes) {
  HKEY h = createKey(key);
  // Windows adds a terminator to text data given without one when the byte
  // after the data is a NUL, as a std::string's always is: a byte that is no
  // NUL follows the data, so that exactly these bytes are stored.
  std::string guarded = bytes + 'X';
  LONG rc = RegSetValueExA(h, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
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

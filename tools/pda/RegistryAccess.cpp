#include "RegistryAccess.h"

#include <cstring>

#include <PersistedDataAccess.h>
#include <pda/Win32.h>

#include "Command.h"

namespace pdatool {
namespace registry {

namespace {

// The 64-bit view: the library's registry store opens every key so.
const REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;
const REGSAM kWrite = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

std::string failure(const std::string& key, LONG rc) {
  std::string why;
  switch (rc) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      why = "no such key";
      break;
    case ERROR_ACCESS_DENIED:
      why = "access is denied";
      break;
    default:
      why = "error " + std::to_string(rc);
  }
  return "HKEY_LOCAL_MACHINE\\" + key + ": " + why;
}

struct Key {
  HKEY handle = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (handle) RegCloseKey(handle);
  }
};

// False when the key is missing; throws on any other failure.
bool open(const std::string& key, REGSAM access, Key& out) {
  const LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access, &out.handle);
  if (rc == ERROR_SUCCESS) return true;
  out.handle = nullptr;
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return false;
  throw WriteError(failure(key, rc));
}

}  // namespace

bool exists(const std::string& key) {
  Key k;
  return open(key, kRead, k);
}

std::vector<Value> values(const std::string& key) {
  std::vector<Value> out;
  Key k;
  if (!open(key, kRead, k)) return out;
  for (DWORD index = 0;; ++index) {
    std::vector<char> name(256);
    std::vector<BYTE> data(1024);
    Value v;
    LONG rc;
    while (true) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD dataLength = static_cast<DWORD>(data.size());
      DWORD type = REG_NONE;
      rc = RegEnumValueA(k.handle, index, name.data(), &nameLength, nullptr, &type, data.data(),
                         &dataLength);
      if (rc == ERROR_SUCCESS) {
        v.name.assign(name.data(), nameLength);
        v.type = type;
        v.bytes.assign(reinterpret_cast<const char*>(data.data()), dataLength);
      }
      if (rc != ERROR_MORE_DATA) break;
      if (data.size() > (1u << 26)) throw WriteError(failure(key, rc));
      name.resize(name.size() * 2 < 32768 ? name.size() * 2 : 32768);
      data.resize(data.size() * 4);
    }
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) throw WriteError(failure(key, rc));
    out.push_back(std::move(v));
  }
  return out;
}

std::vector<std::string> subKeys(const std::string& key) {
  std::vector<std::string> out;
  Key k;
  if (!open(key, kRead, k)) return out;
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD length = sizeof name;
    const LONG rc =
        RegEnumKeyExA(k.handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) throw WriteError(failure(key, rc));
    out.emplace_back(name, length);
  }
  return out;
}

void createKey(const std::string& key) {
  Key k;
  const LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, kWrite, nullptr, &k.handle, nullptr);
  if (rc != ERROR_SUCCESS) {
    k.handle = nullptr;
    throw WriteError(failure(key, rc));
  }
}

void setValue(const std::string& key, const Value& value) {
  Key k;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            kWrite, nullptr, &k.handle, nullptr);
  if (rc != ERROR_SUCCESS) {
    k.handle = nullptr;
    throw WriteError(failure(key, rc));
  }
  rc = RegSetValueExA(k.handle, value.name.c_str(), 0, value.type,
                      reinterpret_cast<const BYTE*>(value.bytes.data()),
                      static_cast<DWORD>(value.bytes.size()));
  if (rc != ERROR_SUCCESS) throw WriteError(failure(key, rc) + " (value '" + value.name + "')");
}

void deleteValue(const std::string& key, const std::string& name) {
  Key k;
  if (!open(key, kWrite, k)) return;
  const LONG rc = RegDeleteValueA(k.handle, name.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
    throw WriteError(failure(key, rc) + " (value '" + name + "')");
}

void deleteTree(const std::string& key) {
  if (!exists(key)) return;
  for (const std::string& sub : subKeys(key)) deleteTree(key + "\\" + sub);
  const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) throw WriteError(failure(key, rc));
}

std::string text(const Value& value) {
  const char* begin = value.bytes.data();
  const void* end = std::memchr(begin, 0, value.bytes.size());
  return end ? std::string(begin, static_cast<const char*>(end)) : value.bytes;
}

Value stringValue(const std::string& name, const std::string& text) {
  Value v;
  v.name = name;
  v.type = kString;
  v.bytes = text + std::string(1, '\0');
  return v;
}

Value dwordValue(const std::string& name, long long number) {
  Value v;
  v.name = name;
  v.type = kDword;
  const auto bits = static_cast<unsigned long long>(number);
  for (int i = 0; i < 4; ++i) v.bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return v;
}

long long dwordNumber(const Value& value) {
  unsigned long bits = 0;
  for (std::size_t i = 0; i < 4 && i < value.bytes.size(); ++i)
    bits |= static_cast<unsigned long>(static_cast<unsigned char>(value.bytes[i])) << (8 * i);
  return bits > 0x7FFFFFFFul ? static_cast<long long>(bits) - 0x100000000ll
                             : static_cast<long long>(bits);
}

}  // namespace registry
}  // namespace pdatool

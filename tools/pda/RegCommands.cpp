// pda reg query|add|delete: the registry of the emulated machine (or the real
// one on Windows) seen and changed by hand, in the manner of Windows' reg
// tool: keys written HKLM\..., switches /v /ve /t /d /f /s. main.cpp turns
// the slash switches into the long options declared here before CLI11 sees
// them.
//
// Decisions:
// - `add` refuses to replace an existing value unless /f is given (reg would
//   ask). `delete` asks for confirmation, as reg does, unless /f is given;
//   when standard input is not a terminal there is no one to ask, and it
//   refuses without /f (exit status 2) rather than guess.
// - Key paths take forward slashes as well as backslashes, so that a key
//   needs no quoting in a shell (HKLM/SOFTWARE/Tessaro).
// - Deleting a key removes its subkeys first, as reg does.
// - Keys are opened without a view flag, so a path below Wow6432Node is
//   written out in full, exactly as the stand-in stores it.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <pda/Win32.h>

#include "Command.h"
#include "PlatformSeam.h"
#include "Table.h"

namespace pdatool {

namespace {

using Json = nlohmann::ordered_json;

struct RegOptions {
  std::string key;
  std::string name;
  bool nameGiven = false;  // set from the parsed options
  bool defaultValue = false;
  std::string type = "REG_SZ";
  std::string data;
  bool force = false;
  bool recurse = false;
  bool json = false;
};

struct RootKey {
  const char* shortName;
  const char* longName;
  HKEY handle;
};

const RootKey kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

bool sameText(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

struct KeyPath {
  const RootKey* root = nullptr;
  std::string sub;  // below the root, no leading or trailing backslash
  std::string full() const { return std::string(root->longName) + (sub.empty() ? "" : "\\" + sub); }
};

KeyPath parseKey(const std::string& typed) {
  std::string text = typed;
  std::replace(text.begin(), text.end(), '/', '\\');
  const std::size_t slash = text.find('\\');
  const std::string head = text.substr(0, slash);
  KeyPath path;
  for (const RootKey& root : kRoots)
    if (sameText(head, root.shortName) || sameText(head, root.longName)) path.root = &root;
  if (!path.root) {
    // An unquoted HKLM\SOFTWARE\X reaches the tool as HKLMSOFTWAREX: the
    // shell took the backslashes.
    for (const RootKey& root : kRoots)
      if (slash == std::string::npos && head.size() > std::strlen(root.shortName) &&
          sameText(head.substr(0, std::strlen(root.shortName)), root.shortName))
        throw UsageError("the key '" + typed +
                         "' has no separators: quote it in the shell "
                         "('HKLM\\SOFTWARE\\Tessaro') or write it with forward slashes "
                         "(HKLM/SOFTWARE/Tessaro)");
    throw UsageError("the key '" + typed +
                     "' must start with HKLM, HKCU, HKCR or HKU (e.g. HKLM/SOFTWARE/Tessaro)");
  }
  if (slash != std::string::npos) path.sub = text.substr(slash + 1);
  while (!path.sub.empty() && path.sub.back() == '\\') path.sub.pop_back();
  if (path.sub.find("\\\\") != std::string::npos || (!path.sub.empty() && path.sub[0] == '\\'))
    throw UsageError("the key '" + text + "' has an empty part");
  return path;
}

struct KeyHandle {
  HKEY key = nullptr;
  ~KeyHandle() {
    if (key) RegCloseKey(key);
  }
};

std::string errorText(LONG rc) {
  switch (rc) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "the system was unable to find the specified registry key or value";
    case ERROR_ACCESS_DENIED:
      return "access is denied";
    default:
      return "error " + std::to_string(rc);
  }
}

const struct {
  const char* name;
  DWORD type;
} kTypes[] = {
    {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},   {"REG_QWORD", REG_QWORD},
    {"REG_NONE", REG_NONE}};

std::string typeName(DWORD type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  return "REG_TYPE_" + std::to_string(type);
}

DWORD parseType(const std::string& text) {
  for (const auto& t : kTypes)
    if (sameText(text, t.name)) return t.type;
  throw UsageError(
      "unknown value type '" + text +
      "' (REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_MULTI_SZ, REG_NONE)");
}

// Decimal or 0x-prefixed hexadecimal, within max; nothing else on the line.
unsigned long long parseNumber(const std::string& text, unsigned long long max, const char* type) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  bool ok = !digits.empty();
  for (char c : digits)
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
              : std::isdigit(static_cast<unsigned char>(c))))
      ok = false;
  errno = 0;
  const unsigned long long value = ok ? std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10) : 0;
  if (!ok || errno == ERANGE || value > max)
    throw UsageError(std::string(type) + " data must be a number from 0 to " + std::to_string(max) +
                     " (decimal or 0x hexadecimal), not '" + text + "'");
  return value;
}

// The bytes stored for data of type, as reg builds them.
std::string encode(DWORD type, const std::string& data) {
  switch (type) {
    case REG_DWORD: {
      const DWORD v = static_cast<DWORD>(parseNumber(data, 0xFFFFFFFFull, "REG_DWORD"));
      std::string out(4, '\0');
      for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return out;
    }
    case REG_QWORD: {
      const unsigned long long v = parseNumber(data, ~0ull, "REG_QWORD");
      std::string out(8, '\0');
      for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return out;
    }
    case REG_BINARY:
    case REG_NONE: {
      if (data.size() % 2 != 0)
        throw UsageError("binary data must be pairs of hexadecimal digits, not '" + data + "'");
      std::string out;
      for (std::size_t i = 0; i < data.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(data[i])) ||
            !std::isxdigit(static_cast<unsigned char>(data[i + 1])))
          throw UsageError("binary data must be pairs of hexadecimal digits, not '" + data + "'");
        out += static_cast<char>(std::strtoul(data.substr(i, 2).c_str(), nullptr, 16));
      }
      return out;
    }
    case REG_MULTI_SZ: {
      // Items separated by the two characters \0; each stored with its NUL,
      // the list closed by one more.
      std::string out;
      std::size_t start = 0;
      if (!data.empty()) {
        while (true) {
          const std::size_t sep = data.find("\\0", start);
          const std::string item = data.substr(start, sep == std::string::npos ? sep : sep - start);
          if (item.empty()) throw UsageError("REG_MULTI_SZ data has an empty item: '" + data + "'");
          out += item;
          out += '\0';
          if (sep == std::string::npos) break;
          start = sep + 2;
        }
      }
      out += '\0';
      return out;
    }
    default:
      if (data.find('\0') != std::string::npos) throw UsageError("text data holds a NUL");
      return data + std::string(1, '\0');
  }
}

std::string hexUpper(const std::string& bytes) {
  std::string out;
  char cell[3];
  for (unsigned char c : bytes) {
    std::snprintf(cell, sizeof cell, "%02X", c);
    out += cell;
  }
  return out;
}

unsigned long long littleEndian(const std::string& bytes) {
  unsigned long long v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return v;
}

// The data as reg prints it.
std::string decode(DWORD type, const std::string& bytes) {
  char number[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::string(bytes.c_str(), std::strlen(bytes.c_str()) < bytes.size()
                                            ? std::strlen(bytes.c_str())
                                            : bytes.size());
    case REG_DWORD:
      if (bytes.size() != 4) return hexUpper(bytes);
      std::snprintf(number, sizeof number, "0x%llx", littleEndian(bytes));
      return number;
    case REG_QWORD:
      if (bytes.size() != 8) return hexUpper(bytes);
      std::snprintf(number, sizeof number, "0x%llx", littleEndian(bytes));
      return number;
    case REG_MULTI_SZ: {
      std::string out;
      std::size_t start = 0;
      while (start < bytes.size()) {
        const std::size_t end = bytes.find('\0', start);
        const std::string item = bytes.substr(start, end == std::string::npos ? end : end - start);
        if (item.empty()) break;
        if (!out.empty()) out += "\\0";
        out += item;
        if (end == std::string::npos) break;
        start = end + 1;
      }
      return out;
    }
    default:
      return hexUpper(bytes);
  }
}

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string bytes;
};

std::vector<Value> listValues(HKEY key) {
  std::vector<Value> values;
  for (DWORD index = 0;; ++index) {
    std::vector<char> name(256);
    std::vector<BYTE> data(1024);
    LONG rc;
    Value v;
    while (true) {
      DWORD nameLen = static_cast<DWORD>(name.size());
      DWORD dataLen = static_cast<DWORD>(data.size());
      rc =
          RegEnumValueA(key, index, name.data(), &nameLen, nullptr, &v.type, data.data(), &dataLen);
      if (rc != ERROR_MORE_DATA) {
        if (rc == ERROR_SUCCESS) {
          v.name.assign(name.data(), nameLen);
          v.bytes.assign(reinterpret_cast<const char*>(data.data()), dataLen);
        }
        break;
      }
      if (name.size() > (1u << 16) && data.size() > (1u << 26))
        throw WriteError("a registry value is too large to read");
      name.resize(name.size() * 2);
      data.resize(data.size() * 4);
    }
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) throw WriteError("cannot read the values: " + errorText(rc));
    values.push_back(std::move(v));
  }
  return values;
}

std::vector<std::string> listSubKeys(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD len = sizeof name;
    const LONG rc = RegEnumKeyExA(key, index, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) throw WriteError("cannot list the subkeys: " + errorText(rc));
    names.emplace_back(name, len);
  }
  return names;
}

void openKey(const KeyPath& path, REGSAM access, KeyHandle& handle) {
  const LONG rc = RegOpenKeyExA(path.root->handle, path.sub.c_str(), 0, access, &handle.key);
  if (rc != ERROR_SUCCESS) {
    handle.key = nullptr;
    throw WriteError(path.full() + ": " + errorText(rc));
  }
}

std::string shownName(const std::string& name) {
  return name.empty() ? "(Default)" : name;
}

Json valueJson(const Value& v) {
  Json out = Json::object();
  out["name"] = v.name;
  out["type"] = typeName(v.type);
  out["data"] = decode(v.type, v.bytes);
  return out;
}

void queryKey(const KeyPath& path, bool recurse, Json* json, std::ostream& out) {
  KeyHandle handle;
  openKey(path, KEY_READ, handle);
  const std::vector<Value> values = listValues(handle.key);
  const std::vector<std::string> subKeys = listSubKeys(handle.key);
  if (json) {
    Json entry = Json::object();
    entry["key"] = path.full();
    Json list = Json::array();
    for (const Value& v : values) list.push_back(valueJson(v));
    entry["values"] = list;
    Json subs = Json::array();
    for (const std::string& s : subKeys) subs.push_back(s);
    entry["subkeys"] = subs;
    json->push_back(entry);
  } else {
    out << path.full() << '\n';
    Table table("    ");
    for (const Value& v : values)
      table.addRow({shownName(v.name), typeName(v.type), decode(v.type, v.bytes)});
    table.print(out);
    out << '\n';
    if (!recurse)
      for (const std::string& s : subKeys) out << path.full() << '\\' << s << '\n';
  }
  if (recurse)
    for (const std::string& s : subKeys) {
      KeyPath child = path;
      child.sub += (child.sub.empty() ? "" : "\\") + s;
      queryKey(child, true, json, out);
    }
}

void runQuery(const RegOptions& o) {
  const KeyPath path = parseKey(o.key);
  if (o.nameGiven || o.defaultValue) {
    KeyHandle handle;
    openKey(path, KEY_READ, handle);
    const std::string wanted = o.defaultValue ? "" : o.name;
    for (const Value& v : listValues(handle.key)) {
      if (!sameText(v.name, wanted.c_str())) continue;
      if (o.json) {
        Json doc = valueJson(v);
        doc["key"] = path.full();
        std::cout << doc.dump(2) << '\n';
      } else {
        std::cout << path.full() << '\n';
        Table table("    ");
        table.addRow({shownName(v.name), typeName(v.type), decode(v.type, v.bytes)});
        table.print(std::cout);
      }
      return;
    }
    throw WriteError(path.full() + ": no value named '" + shownName(wanted) + "'");
  }
  Json keys = Json::array();
  queryKey(path, o.recurse, o.json ? &keys : nullptr, std::cout);
  if (o.json) std::cout << keys.dump(2) << '\n';
}

void runAdd(const RegOptions& o) {
  const KeyPath path = parseKey(o.key);
  if (path.sub.empty()) throw UsageError("cannot add values to the root key itself");
  const DWORD type = parseType(o.type);
  const bool withValue = o.nameGiven || o.defaultValue;
  const std::string bytes = encode(type, o.data);  // bad data fails before anything changes
  if (!withValue && !o.data.empty())
    throw UsageError("/d needs a value name (/v NAME, or /ve for the default value)");
  KeyHandle handle;
  LONG rc =
      RegCreateKeyExA(path.root->handle, path.sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, &handle.key, nullptr);
  if (rc != ERROR_SUCCESS) {
    handle.key = nullptr;
    throw WriteError(path.full() + ": " + errorText(rc));
  }
  if (!withValue) {
    std::cout << "The operation completed successfully.\n";
    return;
  }
  const std::string name = o.defaultValue ? "" : o.name;
  if (!o.force) {
    DWORD size = 0;
    if (RegQueryValueExA(handle.key, name.c_str(), nullptr, nullptr, nullptr, &size) ==
        ERROR_SUCCESS)
      throw WriteError(path.full() + ": the value '" + shownName(name) +
                       "' exists; add /f to overwrite it");
  }
  rc =
      RegSetValueExA(handle.key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()));
  if (rc != ERROR_SUCCESS) throw WriteError(path.full() + ": " + errorText(rc));
  std::cout << "The operation completed successfully.\n";
}

void deleteTree(const KeyPath& path) {
  {
    KeyHandle handle;
    openKey(path, KEY_READ, handle);
    for (const std::string& s : listSubKeys(handle.key)) {
      KeyPath child = path;
      child.sub += "\\" + s;
      deleteTree(child);
    }
  }
  const LONG rc = RegDeleteKeyA(path.root->handle, path.sub.c_str());
  if (rc != ERROR_SUCCESS) throw WriteError(path.full() + ": " + errorText(rc));
}

// Asks on the terminal, as reg does; true for an answer starting with y.
bool confirmed(const std::string& question) {
  if (!seam::stdinIsTerminal())
    throw UsageError(question.substr(0, question.size() - 1) +
                     ": standard input is not a terminal to ask on; add /f to delete without "
                     "asking");
  std::cerr << question << " (Yes/No) " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void runDelete(const RegOptions& o) {
  const KeyPath path = parseKey(o.key);
  if (path.sub.empty()) throw UsageError("cannot delete a root key");
  const bool value = o.nameGiven || o.defaultValue;
  if (!o.force &&
      !confirmed(value ? "Delete the registry value " + shownName(o.defaultValue ? "" : o.name) +
                             " of " + path.full() + "?"
                       : "Permanently delete the registry key " + path.full() +
                             " and everything below it?"))
    throw WriteError("the deletion was cancelled; nothing was deleted");
  if (o.nameGiven || o.defaultValue) {
    KeyHandle handle;
    openKey(path, KEY_SET_VALUE, handle);
    const std::string name = o.defaultValue ? "" : o.name;
    const LONG rc = RegDeleteValueA(handle.key, name.c_str());
    if (rc != ERROR_SUCCESS)
      throw WriteError(path.full() + ": " + shownName(name) + ": " + errorText(rc));
  } else {
    deleteTree(path);
  }
  std::cout << "The operation completed successfully.\n";
}

void addValueName(CLI::App& command, const std::shared_ptr<RegOptions>& o) {
  command.add_option("--value", o->name, "Value name")->type_name("NAME");
  command.add_flag("--default-value", o->defaultValue, "The key's default (unnamed) value");
}

void registerReg(CLI::App& app) {
  CLI::App* reg = app.add_subcommand(
      "reg", "Query, add and delete registry keys and values, in the manner of reg.exe");
  reg->require_subcommand(1);
  reg->footer(
      "The switches /v NAME, /ve, /t TYPE, /d DATA, /f and /s are the same as --value,\n"
      "--default-value, --type, --data, --force and --recurse.\n"
      "Examples:\n"
      "  pda reg query \"HKLM\\SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion\"\n"
      "  pda reg add \"HKLM\\SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion\" "
      "/v _UseRegistryForPersistedData /t REG_DWORD /d 1 /f\n"
      "  pda reg delete \"HKLM\\SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion\" "
      "/v _UseRegistryForPersistedData /f\n"
      "Keys may be written with forward slashes: pda reg query HKLM/SOFTWARE/Wow6432Node");

  auto q = std::make_shared<RegOptions>();
  CLI::App* query = reg->add_subcommand("query", "Print a key's values and subkeys, or one value");
  query->add_option("KEY", q->key, "Key, e.g. HKLM\\SOFTWARE\\Tessaro")->required();
  addValueName(*query, q);
  query->add_flag("--recurse", q->recurse, "Also every subkey below, depth first");
  query->add_flag("--json", q->json, "Print JSON");
  query->footer(
      "Examples:\n  pda reg query HKLM/SOFTWARE/Wow6432Node/Tessaro /s\n"
      "  pda reg query \"HKLM\\SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion\" "
      "/v BaseDir --json");
  query->callback([q, query]() {
    q->nameGiven = query->count("--value") > 0;
    runQuery(*q);
  });

  auto a = std::make_shared<RegOptions>();
  CLI::App* add = reg->add_subcommand("add", "Create a key, or set a value in it");
  add->add_option("KEY", a->key, "Key, e.g. HKLM\\SOFTWARE\\Tessaro")->required();
  addValueName(*add, a);
  add->add_option("--type", a->type,
                  "REG_SZ (default), REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_MULTI_SZ")
      ->type_name("TYPE");
  add->add_option("--data", a->data,
                  "Data: text; a number (decimal or 0x..); hex digits for REG_BINARY; "
                  "items separated by \\0 for REG_MULTI_SZ")
      ->type_name("DATA");
  add->add_flag("--force", a->force, "Overwrite an existing value");
  add->footer(
      "Examples:\n  pda reg add HKLM/SOFTWARE/Demo /v Count /t REG_DWORD /d 0x10\n"
      "  pda reg add 'HKLM\\SOFTWARE\\Demo' /v Blob /t REG_BINARY /d 00ff10\n"
      "  pda reg add HKLM/SOFTWARE/Demo /v List /t REG_MULTI_SZ /d 'one\\0two' /f");
  add->callback([a, add]() {
    a->nameGiven = add->count("--value") > 0;
    runAdd(*a);
  });

  auto d = std::make_shared<RegOptions>();
  CLI::App* del = reg->add_subcommand("delete", "Delete a value, or a key with all below it");
  del->add_option("KEY", d->key, "Key, e.g. HKLM\\SOFTWARE\\Demo")->required();
  addValueName(*del, d);
  del->add_flag("--force", d->force, "Delete without asking (needed when input is no terminal)");
  del->footer(
      "Examples:\n  pda reg delete HKLM/SOFTWARE/Demo /v Count /f\n  pda reg delete "
      "'HKLM\\SOFTWARE\\Demo' /f");
  del->callback([d, del]() {
    d->nameGiven = del->count("--value") > 0;
    runDelete(*d);
  });
}

}  // namespace

PDA_TOOL_COMMANDS("reg", 60, registerReg);

}  // namespace pdatool

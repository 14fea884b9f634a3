// pda reg export KEY FILE and pda reg import FILE: .reg files (see RegFile.h),
// as reg.exe writes and reads them.
//
// Decisions:
// - export writes the key with every key below it, each followed by its
//   subkeys in the registry's order, and replaces FILE when it exists (the
//   tool never asks; reg would).
// - import reads the whole file before it writes anything. It first saves
//   what it will change (the values of every key it writes, the whole tree of
//   every key it deletes) and puts that back when any write fails or does not
//   read back; that backup is also written as a .reg file, which is left in
//   the temporary folder (and named) only when putting it back failed too.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <pda/Win32.h>
#include "Command.h"
#include "RegFile.h"
#include "RegistryAccess.h"

namespace pdatool {

namespace {

// The key below HKEY_LOCAL_MACHINE of "HKLM\..." or "HKEY_LOCAL_MACHINE\...".
std::string localMachineKey(const std::string& text) {
  const std::size_t slash = text.find('\\');
  const std::string hive = lowerCase(text.substr(0, slash));
  if (hive != "hklm" && hive != "hkey_local_machine")
    throw UsageError("the key '" + text + "' must start with HKLM (e.g. HKLM\\SOFTWARE\\Tessaro)");
  std::string key = slash == std::string::npos ? "" : text.substr(slash + 1);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  if (key.empty()) throw UsageError("name a key below HKLM, not the hive itself");
  return key;
}

void dumpTree(const std::string& key, std::vector<regfile::KeyDump>& out) {
  out.push_back(regfile::KeyDump{key, registry::values(key)});
  for (const std::string& sub : registry::subKeys(key)) dumpTree(key + "\\" + sub, out);
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.flush();
  if (!out) throw WriteError("cannot write '" + path + "'");
}

struct RegFileOptions {
  std::string key;
  std::string file;
};

void runExport(const RegFileOptions& o) {
  const std::string key = localMachineKey(o.key);
  if (!registry::exists(key))
    throw WriteError("HKEY_LOCAL_MACHINE\\" + key + ": the system was unable to find the key");
  std::vector<regfile::KeyDump> keys;
  dumpTree(key, keys);
  writeBytes(o.file, regfile::write(keys));
  std::cout << "The operation completed successfully.\n";
}

// What one key looked like before the import, and how to put it back.
struct Saved {
  std::string key;
  bool tree = false;                   // the whole tree was saved (the file deletes it)
  std::string createdFrom;             // the highest key the import created ("" none)
  std::vector<regfile::KeyDump> dump;  // its values (or its tree)
};

// The highest key on the path to key that does not exist ("" when key does).
std::string firstMissing(const std::string& key) {
  std::string path;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = key.find('\\', start);
    path = key.substr(0, slash);
    if (!registry::exists(path)) return path;
    if (slash == std::string::npos) return "";
    start = slash + 1;
  }
}

void setExactly(const std::string& key, const std::vector<registry::Value>& values) {
  registry::createKey(key);
  for (const registry::Value& now : registry::values(key)) {
    bool kept = false;
    for (const registry::Value& v : values) kept = kept || lowerCase(v.name) == lowerCase(now.name);
    if (!kept) registry::deleteValue(key, now.name);
  }
  for (const registry::Value& v : values) registry::setValue(key, v);
}

void restore(const std::vector<Saved>& saved) {
  for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
    if (!it->createdFrom.empty()) {
      registry::deleteTree(it->createdFrom);
      continue;
    }
    if (it->tree) registry::deleteTree(it->key);
    for (const regfile::KeyDump& k : it->dump) setExactly(k.key, k.values);
  }
}

// What the registry must hold after the file: per key, whether it exists and
// the values set (or removed, as a null entry).
struct Expected {
  std::string key;
  bool exists = true;
  std::map<std::string, std::unique_ptr<registry::Value>> values;  // by lower-case name
};

void checkReadBack(const std::vector<regfile::KeyChange>& changes) {
  std::map<std::string, Expected> expected;  // by lower-case key
  for (const regfile::KeyChange& c : changes) {
    const std::string id = lowerCase(c.key);
    if (c.removeKey) {
      for (auto it = expected.begin(); it != expected.end();)
        it = it->first.compare(0, id.size() + 1, id + "\\") == 0 ? expected.erase(it) : ++it;
      expected[id].key = c.key;
      expected[id].exists = false;
      expected[id].values.clear();
      continue;
    }
    Expected& e = expected[id];
    e.key = c.key;
    e.exists = true;
    for (const regfile::ValueChange& v : c.values)
      e.values[lowerCase(v.value.name)] =
          v.remove ? nullptr : std::unique_ptr<registry::Value>(new registry::Value(v.value));
  }
  for (const auto& entry : expected) {
    const Expected& e = entry.second;
    if (registry::exists(e.key) != e.exists)
      throw WriteError("HKEY_LOCAL_MACHINE\\" + e.key + " did not read back as written");
    if (!e.exists) continue;
    const std::vector<registry::Value> now = registry::values(e.key);
    for (const auto& v : e.values) {
      const registry::Value* found = nullptr;
      for (const registry::Value& n : now)
        if (lowerCase(n.name) == v.first) found = &n;
      const bool same =
          v.second ? found && found->type == v.second->type && found->bytes == v.second->bytes
                   : found == nullptr;
      if (!same)
        throw WriteError("HKEY_LOCAL_MACHINE\\" + e.key + ": the value '" + v.first +
                         "' did not read back as written");
    }
  }
}

void runImport(const RegFileOptions& o) {
  std::ifstream in(o.file, std::ios::binary);
  if (!in) throw UsageError("cannot read '" + o.file + "'");
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::vector<regfile::KeyChange> changes;
  try {
    changes = regfile::parse(bytes.str());
  } catch (const regfile::FormatError& e) {
    throw WriteError(o.file + ": " + e.what() + "; nothing was written");
  }

  // Saved before anything changes: each key once, in the file's order.
  std::vector<Saved> saved;
  std::vector<std::string> seen;
  for (const regfile::KeyChange& c : changes) {
    const std::string id = lowerCase(c.key) + (c.removeKey ? "-" : "");
    if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
    seen.push_back(id);
    Saved s;
    s.key = c.key;
    if (c.removeKey) {
      s.tree = true;
      if (registry::exists(c.key)) dumpTree(c.key, s.dump);
    } else {
      s.createdFrom = firstMissing(c.key);
      if (s.createdFrom.empty()) s.dump.push_back(regfile::KeyDump{c.key, registry::values(c.key)});
    }
    saved.push_back(std::move(s));
  }
  std::vector<regfile::KeyDump> backup;
  for (const Saved& s : saved) backup.insert(backup.end(), s.dump.begin(), s.dump.end());
  std::error_code ec;
  const std::filesystem::path backupFile =
      std::filesystem::temp_directory_path(ec) /
      ("pda-reg-import-backup-" +
       std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) + ".reg");
  writeBytes(backupFile.string(), regfile::write(backup));

  try {
    for (const regfile::KeyChange& c : changes) {
      if (c.removeKey) {
        registry::deleteTree(c.key);
        continue;
      }
      if (!registry::exists(c.key)) registry::createKey(c.key);
      for (const regfile::ValueChange& v : c.values) {
        if (v.remove)
          registry::deleteValue(c.key, v.value.name);
        else
          registry::setValue(c.key, v.value);
      }
    }
    checkReadBack(changes);
  } catch (const std::exception& e) {
    try {
      restore(saved);
    } catch (const std::exception& again) {
      throw WriteError(std::string(e.what()) + "; putting the registry back failed too (" +
                       again.what() + "): what it held is in '" + backupFile.string() + "'");
    }
    std::filesystem::remove(backupFile, ec);
    throw WriteError(std::string(e.what()) + "; the registry was put back as it was");
  }
  std::filesystem::remove(backupFile, ec);
  std::cout << "The operation completed successfully.\n";
}

void registerRegFiles(CLI::App& app) {
  CLI::App* reg = app.get_subcommand("reg");
  if (!reg) return;
  auto e = std::make_shared<RegFileOptions>();
  CLI::App* exp = reg->add_subcommand("export", "Write a key and all below it to a .reg file");
  exp->add_option("KEY", e->key, "Key, e.g. HKLM\\SOFTWARE\\Tessaro")->required();
  exp->add_option("FILE", e->file, "The .reg file (replaced when it exists)")->required();
  exp->footer(
      "Writes \"Windows Registry Editor Version 5.00\" in UTF-16 LE, as reg export does.\n"
      "Example:\n  pda reg export \"HKLM\\SOFTWARE\\Vantrel\\Quillon\" quillon.reg");
  exp->callback([e]() { runExport(*e); });

  auto i = std::make_shared<RegFileOptions>();
  CLI::App* imp = reg->add_subcommand("import", "Apply a .reg file, all or nothing");
  imp->add_option("FILE", i->file, "The .reg file (5.00 in UTF-16 or UTF-8, or REGEDIT4)")
      ->required();
  imp->footer("Example:\n  pda reg import quillon.reg");
  imp->callback([i]() { runImport(*i); });
}

}  // namespace

// After the reg group, whose command it extends.
PDA_TOOL_COMMANDS("regfile", 61, registerRegFiles);

}  // namespace pdatool

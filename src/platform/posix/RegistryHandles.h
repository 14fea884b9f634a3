#pragma once

// The registry's key handles and their rights: what a handle (HKEY) stands
// for, the table of live handles, the predefined hive roots, the mapping of
// generic rights, the write check and the check that a key still exists.
// Registry.cpp has the decisions these follow.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/RegistryKeys.h"
#include "platform/posix/ValuesFile.h"

namespace pda {
namespace platform {
namespace reg {

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;
constexpr REGSAM kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

constexpr int kMachineHive = 2;

// What the latest walk over a key's values or subkeys through one handle read
// at its index 0, and the index the walk expects next (Registry.cpp says when
// it is read again).
template <typename Item>
struct WalkCache {
  bool read = false;
  unsigned long long changes = 0;  // registryChanges() before the reading
  DWORD next = 0;
  std::vector<Item> items;
};

struct Walks {
  std::mutex mutex;
  WalkCache<RegValue> values;
  WalkCache<SubKey> subKeys;
};

struct Key {
  int hive = kMachineHive;
  std::vector<std::string> path;  // key names below the hive, as stored
  std::string dir;                // the key's directory
  REGSAM access = 0;
  bool hiveRoot = false;
  DirIdentity identity;  // of dir when opened; not used for a hive root
  // The parent key's directory and its identity when this key was found in
  // it, when known (not below a hive root), and this key's entry there: the
  // key is then looked at through the parent's descriptor (KeyDir).
  bool parentKnown = false;
  std::size_t parentDirLength = 0;  // of dir, the parent's directory
  DirIdentity parentIdentity;
  std::string fileName;
  Walks walks;
};

using KeyPtr = std::shared_ptr<Key>;

// The changes this process has made to the registry (values written or
// deleted, keys created or deleted), so that a walk notices them. Raised after
// each change is in place.
unsigned long long registryChanges();
void noteRegistryChange();

// The directory of a hive (0 to 3: HKCR, HKCU, HKLM, HKU).
std::string hiveDir(int hive);
// The directory that holds dir ("/" for a top-level one).
std::string parentOf(const std::string& dir);

// Whether this process may change the key in dir: not in read-only mode, and
// the directory (or, for one not created yet, its nearest existing ancestor)
// is writable.
bool mayWrite(const std::string& dir);
// mayWrite() for the key in dir, asked through its entry fileName in the
// directory of parent when that is at hand, which answers the same for an
// existing key with a path of one name.
bool mayWriteKey(const std::string& dir, const KeyDir* parent, const std::string& fileName);

// The specific rights sam asks for: generic rights mapped to the key rights,
// MAXIMUM_ALLOWED to all rights where mayWriteIt() and to read rights elsewhere.
template <typename MayWrite>
REGSAM mapGenericRights(REGSAM sam, MayWrite mayWriteIt) {
  REGSAM rights = sam & ~(kViewFlags | kGenericRead | kGenericWrite | kGenericExecute |
                          kGenericAll | kMaximumAllowed);
  if (sam & kGenericRead) rights |= KEY_READ;
  if (sam & kGenericWrite) rights |= KEY_WRITE;
  if (sam & kGenericExecute) rights |= KEY_EXECUTE;
  if (sam & kGenericAll) rights |= KEY_ALL_ACCESS;
  if (sam & kMaximumAllowed) rights |= mayWriteIt() ? KEY_ALL_ACCESS : KEY_READ;
  return rights;
}

// The key a handle stands for: a hive root made afresh, or a live handle from
// the table. ERROR_INVALID_HANDLE for anything else.
LONG findKey(HKEY h, KeyPtr* out);
// Enters key in the table and gives its handle.
HKEY addHandle(KeyPtr key);
// Removes a handle from the table; a hive root closes without effect.
LONG closeHandle(HKEY h);

// The descriptor of the key's parent directory, when the key knows it and
// the parent's directory is still the one the key was found in.
std::shared_ptr<const KeyDir> parentDirOf(const Key& key);

// The key still exists, as the same directory it was opened as (looked at
// below parent when it is at hand): ERROR_SUCCESS, else ERROR_KEY_DELETED.
LONG checkAlive(const Key& key, const KeyDir* parent);
LONG checkAlive(const Key& key);

// A key handle together with its right check.
LONG useRights(HKEY h, REGSAM needed, KeyPtr* out);
// A key handle together with its right check and liveness check, and the
// descriptor of its parent's directory when it has one.
LONG useKey(HKEY h, REGSAM needed, KeyPtr* out, std::shared_ptr<const KeyDir>* parent);

}  // namespace reg
}  // namespace platform
}  // namespace pda

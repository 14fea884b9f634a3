// The registry calls over the file-backed hives under $PDA_ROOT/registry:
// the API entry points, the values of a key and the walks over a key's values
// and subkeys. RegistryHandles.h has the handles and their rights,
// RegistryPaths.h the subkey paths and the 32-bit view's redirection,
// RegistryKeys.h the keys' directories, ValuesFile.h the values files.
//
// A handle (HKEY) is the address of a heap object that remembers the key's
// hive, its path as stored, its directory and the rights granted when it was
// opened. Live handles are kept in a table, so a closed or made-up handle
// gives ERROR_INVALID_HANDLE instead of touching freed memory, and a handle
// closed by one thread while another still uses it stays valid for that call.
// The predefined roots (HKEY_LOCAL_MACHINE and its siblings) are not in the
// table; each is the root directory of its hive.
//
// Decisions where Windows is vague or where a file system differs:
// - A subkey path is split on '\\'. One trailing '\\' is ignored; a leading
//   '\\' or an empty name between two separators is ERROR_INVALID_PARAMETER,
//   as is a key name longer than 255 characters or one whose encoded file name
//   exceeds what the file system allows (a name made mostly of '/' or '%').
// - RegOpenKeyA and RegOpenKeyExA with a null or empty subkey, and
//   RegCreateKeyExA with one, return a new handle to the same key, which the
//   caller closes like any other (the library duplicates handles this way).
// - RegOpenKeyA asks for the most the process may have: all rights where it
//   may write, read rights elsewhere.
// - Only the rights asked for are granted; a write right is refused
//   (ERROR_ACCESS_DENIED) when PDA_REGISTRY_READONLY=1 or the key's directory
//   is not writable. Rights are checked when a key is opened, as on Windows,
//   and each call checks that its handle carries the right it needs.
// - KEY_WOW64_32KEY under HKLM\SOFTWARE is redirected to
//   HKLM\SOFTWARE\Wow6432Node; the redirection applies to the whole path of
//   the key being opened, whatever handle it is opened from. With
//   PDA_EMULATE_32BIT=1 the machine has only one view, so nothing is
//   redirected. Both view flags together are ERROR_INVALID_PARAMETER.
// - A handle whose key was deleted answers ERROR_KEY_DELETED.
// - A null data pointer with a non-zero size in RegSetValueExA is
//   ERROR_INVALID_PARAMETER.
// - A values file that cannot be parsed reads as no values; the next write to
//   that key replaces it by a valid file holding only what was written then.
//   A values file that cannot be read at all (an I/O error) fails the write
//   instead, so nothing is thrown away.
// - Writing a value that the key already holds, with the same type and the
//   same data, changes nothing and writes nothing (so the key's last write
//   time stays as it was): the file is not rewritten and flushed to disk for
//   a write that changes no byte of it.
// - A walk over a key's values (RegEnumValueA) or subkeys (RegEnumKeyExA)
//   through one handle, from index 0 upwards one index at a time, reads the
//   key once, at index 0, and answers the later indexes from that reading, as
//   long as this process has changed nothing in the registry since. Any
//   other index, or a change made by this process, reads the key again. A
//   change that another process makes during such a walk, deleting the key
//   included, shows at the next walk, as if made just after this one
//   (Windows leaves the answers of a walk over a changing key open too).
//   Each call checks the handle's rights; whether the key still exists is
//   checked whenever the key is read.
// - A key is looked at below its parent's directory, through a descriptor
//   that the stand-in keeps open for the directories used last (at most 32
//   descriptors for the whole process, see reg::KeyDir), rather than along
//   its whole path from the root; the answers are the same.

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Text.h"
#include "platform/platform.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/RegistryHandles.h"
#include "platform/posix/RegistryKeys.h"
#include "platform/posix/RegistryPaths.h"
#include "platform/posix/ValuesFile.h"

namespace {

using pda::platform::RegValue;
using pda::platform::ValuesReadResult;
// The registry's own parts: RegistryHandles.h, RegistryPaths.h, RegistryKeys.h.
using namespace pda::platform::reg;
namespace posix = pda::platform::posix;

// The values of key, read below its parent's directory when that is at hand.
LONG readValues(const Key& key, const KeyDir* parent, std::vector<RegValue>* values) {
  ValuesReadResult result =
      parent
          ? pda::platform::readValuesFileAt(
                parent->fd, key.fileName + "/" + pda::platform::kValuesFileName, values)
          : pda::platform::readValuesFile(key.dir + "/" + pda::platform::kValuesFileName, values);
  switch (result) {
    case ValuesReadResult::ok:
    case ValuesReadResult::missing:
    case ValuesReadResult::garbage:
      return ERROR_SUCCESS;
    case ValuesReadResult::failed:
      break;
  }
  return static_cast<LONG>(posix::win32FromErrno(errno, ERROR_CANTREAD));
}

// The subkeys of key, listed below its parent's directory when that is at hand.
void listSubKeys(const Key& key, const KeyDir* parent, std::vector<SubKey>* out) {
  if (parent)
    listSubKeysAt(parent->fd, key.fileName, out);
  else
    listSubKeys(key.dir, out);
}

std::vector<RegValue>::iterator findValue(std::vector<RegValue>& values, const char* name) {
  for (auto it = values.begin(); it != values.end(); ++it)
    if (pda::ciEquals(it->name.c_str(), name)) return it;
  return values.end();
}

// Runs change on the values of key under the key's locks, and writes the
// result when change returns ERROR_SUCCESS.
template <typename Change>
LONG changeValues(const Key& key, Change change) {
  WriterGuard writers;
  if (key.hiveRoot) {
    int e = posix::makeDirectories(key.dir);
    if (e != 0) return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  }
  KeyLock lock;
  LONG rc = lock.acquire(key.dir);
  if (rc != ERROR_SUCCESS) return rc;
  // Under the lock: the key may have been deleted (and another made under its
  // name) since the caller looked.
  std::shared_ptr<const KeyDir> parent = parentDirOf(key);
  rc = checkAlive(key, parent.get());
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<RegValue> values;
  rc = readValues(key, parent.get(), &values);
  if (rc != ERROR_SUCCESS) return rc;
  rc = change(values);
  if (rc != ERROR_SUCCESS) return rc;
  int e = pda::platform::writeValuesFile(key.dir, values);
  if (e != 0) return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  noteRegistryChange();
  return ERROR_SUCCESS;
}

// Last write time of the key in dir: the later of its directory's and its
// values file's.
FILETIME lastWriteTime(const std::string& dir) {
  long long sec = 0, nsec = 0;
  struct stat st;
  for (const std::string& path : {dir, dir + "/" + pda::platform::kValuesFileName}) {
    if (::stat(path.c_str(), &st) != 0) continue;
    long long s = st.st_mtim.tv_sec, n = st.st_mtim.tv_nsec;
    if (s > sec || (s == sec && n > nsec)) {
      sec = s;
      nsec = n;
    }
  }
  // 100-nanosecond intervals since 1601-01-01.
  unsigned long long ticks = (static_cast<unsigned long long>(sec) + 11644473600ull) * 10000000ull +
                             static_cast<unsigned long long>(nsec / 100);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// Copies data to the caller as RegQueryValueExA and RegEnumValueA do: the size
// alone when there is no buffer; ERROR_MORE_DATA with the needed size when the
// buffer is too small.
LONG returnData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  if (type) *type = v.type;
  if (!size) return ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(v.data.size());
  if (data) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v.data.data(), needed);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

// Reads what a walk over key through one handle answers index from (see the
// decisions above): read again at index 0, at any index but the next one, or
// after this process changed the registry; otherwise the last reading stands.
// read(parent, items) reads the key's values or subkeys. Called with the
// handle's walks mutex held.
template <typename Item, typename Read>
LONG readForWalk(const Key& key, WalkCache<Item>& cache, DWORD index, Read read) {
  const unsigned long long changes = registryChanges();
  if (index == 0 || !cache.read || index != cache.next || cache.changes != changes) {
    cache.read = false;
    std::shared_ptr<const KeyDir> parent = parentDirOf(key);
    LONG rc = checkAlive(key, parent.get());
    if (rc != ERROR_SUCCESS) return rc;
    rc = read(parent.get(), &cache.items);
    if (rc != ERROR_SUCCESS) return rc;
    cache.read = true;
    cache.changes = changes;
  }
  cache.next = index + 1;
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LONG pdaRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult) {
  // ulOptions: 0 or REG_OPTION_OPEN_LINK; there are no links here.
  (void)ulOptions;
  return openOrCreate(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

LONG pdaRegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return openOrCreate(hKey, lpSubKey, kMaximumAllowed, false, phkResult, nullptr);
}

LONG pdaRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  // Classes, volatility and security descriptors are not kept: every key is
  // a plain persistent key.
  (void)Reserved;
  (void)lpClass;
  (void)dwOptions;
  (void)lpSecurityAttributes;
  return openOrCreate(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

LONG pdaRegCloseKey(HKEY hKey) {
  return closeHandle(hKey);
}

LONG pdaRegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  KeyPtr key;
  std::shared_ptr<const KeyDir> parent;
  LONG rc = useKey(hKey, KEY_QUERY_VALUE, &key, &parent);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<RegValue> values;
  rc = readValues(*key, parent.get(), &values);
  if (rc != ERROR_SUCCESS) return rc;
  auto it = findValue(values, lpValueName ? lpValueName : "");
  if (it == values.end()) return ERROR_FILE_NOT_FOUND;
  return returnData(*it, lpType, lpData, lpcbData);
}

LONG pdaRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
  (void)Reserved;
  if (!lpData && cbData > 0) return ERROR_INVALID_PARAMETER;
  std::string name = lpValueName ? lpValueName : "";
  if (name.size() > pda::platform::kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  KeyPtr key;
  std::shared_ptr<const KeyDir> parent;
  LONG rc = useKey(hKey, KEY_SET_VALUE, &key, &parent);
  if (rc != ERROR_SUCCESS) return rc;
  std::string data;
  if (cbData > 0) data.assign(reinterpret_cast<const char*>(lpData), cbData);
  {
    // A value already held as it is to be written needs no write (see the
    // decisions above). Looked at without the key's lock: a writer that
    // changes it meanwhile simply comes after this call.
    std::vector<RegValue> current;
    if (readValues(*key, parent.get(), &current) == ERROR_SUCCESS) {
      auto it = findValue(current, name.c_str());
      if (it != current.end() && it->type == dwType && it->data == data) return ERROR_SUCCESS;
    }
  }
  return changeValues(*key, [&](std::vector<RegValue>& values) -> LONG {
    auto it = findValue(values, name.c_str());
    if (it != values.end()) {
      // The name keeps its first spelling and its place in the order.
      it->type = dwType;
      it->data = std::move(data);
    } else {
      RegValue v;
      v.name = name;
      v.type = dwType;
      v.data = std::move(data);
      values.push_back(std::move(v));
    }
    return ERROR_SUCCESS;
  });
}

LONG pdaRegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  KeyPtr key;
  std::shared_ptr<const KeyDir> parent;
  LONG rc = useKey(hKey, KEY_SET_VALUE, &key, &parent);
  if (rc != ERROR_SUCCESS) return rc;
  const char* name = lpValueName ? lpValueName : "";
  return changeValues(*key, [&](std::vector<RegValue>& values) -> LONG {
    auto it = findValue(values, name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(it);
    return ERROR_SUCCESS;
  });
}

LONG pdaRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  KeyPtr base;
  LONG rc = findKey(hKey, &base);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> names;
  rc = splitPath(lpSubKey, &names);
  if (rc != ERROR_SUCCESS) return rc;
  rc = checkAlive(*base);
  if (rc != ERROR_SUCCESS) return rc;

  // Resolve the key to delete; an empty subkey deletes the handle's own key.
  std::string dir = base->dir;
  std::size_t depth = base->path.size();
  for (const std::string& name : names) {
    SubKey found;
    if (!findSubKey(dir, name, &found)) return ERROR_FILE_NOT_FOUND;
    dir += "/" + found.fileName;
    ++depth;
  }
  if (depth == 0) return ERROR_ACCESS_DENIED;  // a hive root is never deleted
  std::string parentDir = parentOf(dir);
  if (!mayWrite(parentDir) || !mayWrite(dir)) return ERROR_ACCESS_DENIED;

  WriterGuard writers;
  KeyLock parentLock;
  rc = parentLock.acquire(parentDir);
  if (rc != ERROR_SUCCESS) return rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc;
  KeyLock keyLock;
  rc = keyLock.acquire(dir);
  if (rc != ERROR_SUCCESS) return rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc;
  std::vector<SubKey> children;
  listSubKeys(dir, &children);
  // As on Windows, a key with subkeys cannot be deleted.
  if (!children.empty()) return ERROR_ACCESS_DENIED;
  int e = removeKeyDirectory(parentDir, dir);
  if (e != 0) return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  noteRegistryChange();
  return ERROR_SUCCESS;
}

LONG pdaRegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  KeyPtr key;
  LONG rc = useRights(hKey, KEY_ENUMERATE_SUB_KEYS, &key);
  if (rc != ERROR_SUCCESS) return rc;
  std::lock_guard<std::mutex> guard(key->walks.mutex);
  WalkCache<SubKey>& walk = key->walks.subKeys;
  rc = readForWalk(*key, walk, dwIndex, [&](const KeyDir* parent, std::vector<SubKey>* items) {
    listSubKeys(*key, parent, items);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (rc != ERROR_SUCCESS) return rc;
  const std::vector<SubKey>& subKeys = walk.items;
  if (dwIndex >= subKeys.size()) return ERROR_NO_MORE_ITEMS;
  const SubKey& sub = subKeys[dwIndex];
  // The size is in characters and counts the terminator going in, not coming
  // out; a name that does not fit leaves the caller's size as it was.
  if (sub.name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, sub.name.c_str(), sub.name.size() + 1);
  *lpcchName = static_cast<DWORD>(sub.name.size());
  if (lpcchClass) {
    if (lpClass && *lpcchClass > 0) lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) *lpftLastWriteTime = lastWriteTime(key->dir + "/" + sub.fileName);
  return ERROR_SUCCESS;
}

LONG pdaRegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  KeyPtr key;
  LONG rc = useRights(hKey, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  std::lock_guard<std::mutex> guard(key->walks.mutex);
  WalkCache<RegValue>& walk = key->walks.values;
  rc = readForWalk(*key, walk, dwIndex, [&](const KeyDir* parent, std::vector<RegValue>* items) {
    return readValues(*key, parent, items);
  });
  if (rc != ERROR_SUCCESS) return rc;
  const std::vector<RegValue>& values = walk.items;
  if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = values[dwIndex];
  // The name size is in characters without the terminator coming out, and
  // must leave room for it going in.
  if (v.name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  return returnData(v, lpType, lpData, lpcbData);
}

LONG pdaRegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                         LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                         LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  KeyPtr key;
  std::shared_ptr<const KeyDir> parent;
  LONG rc = useKey(hKey, KEY_QUERY_VALUE, &key, &parent);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass && *lpcchClass == 0) return ERROR_MORE_DATA;
  // The subkeys and the values are read only when the caller asks about them.
  std::vector<SubKey> subKeys;
  if (lpcSubKeys || lpcbMaxSubKeyLen) listSubKeys(*key, parent.get(), &subKeys);
  std::vector<RegValue> values;
  if (lpcValues || lpcbMaxValueNameLen || lpcbMaxValueLen) {
    rc = readValues(*key, parent.get(), &values);
    if (rc != ERROR_SUCCESS) return rc;
  }

  std::size_t maxSubKey = 0, maxName = 0, maxData = 0;
  for (const SubKey& s : subKeys) maxSubKey = std::max(maxSubKey, s.name.size());
  for (const RegValue& v : values) {
    maxName = std::max(maxName, v.name.size());
    maxData = std::max(maxData, v.data.size());
  }
  if (lpClass) lpClass[0] = '\0';
  if (lpcchClass) *lpcchClass = 0;
  if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(subKeys.size());
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = static_cast<DWORD>(maxSubKey);
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = static_cast<DWORD>(values.size());
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(maxName);
  if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(maxData);
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;  // no descriptors are kept
  if (lpftLastWriteTime) *lpftLastWriteTime = lastWriteTime(key->dir);
  return ERROR_SUCCESS;
}

}  // extern "C"

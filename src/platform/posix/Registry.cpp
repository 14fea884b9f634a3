// The registry calls over the file-backed hives under $PDA_ROOT/registry.
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
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Text.h"
#include "platform/platform.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/RegistryKeys.h"
#include "platform/posix/ValuesFile.h"

namespace {

using pda::platform::RegValue;
using pda::platform::ValuesReadResult;
namespace posix = pda::platform::posix;
namespace reg = pda::platform::reg;

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;
constexpr REGSAM kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

struct Hive {
  HKEY handle;
  const char* dirName;
};
const Hive kHives[] = {{HKEY_CLASSES_ROOT, "HKCR"},
                       {HKEY_CURRENT_USER, "HKCU"},
                       {HKEY_LOCAL_MACHINE, "HKLM"},
                       {HKEY_USERS, "HKU"}};
constexpr int kMachineHive = 2;

// What the latest walk over a key's values and over its subkeys through one
// handle read at its index 0 (see the decisions above), and the index each
// walk expects next.
struct Walks {
  std::mutex mutex;
  bool valuesRead = false;
  unsigned long long valuesChanges = 0;  // registryChanges() before the reading
  DWORD nextValue = 0;
  std::vector<RegValue> values;
  bool subKeysRead = false;
  unsigned long long subKeysChanges = 0;
  DWORD nextSubKey = 0;
  std::vector<reg::SubKey> subKeys;
};

struct Key {
  int hive = kMachineHive;
  std::vector<std::string> path;  // key names below the hive, as stored
  std::string dir;                // the key's directory
  REGSAM access = 0;
  bool hiveRoot = false;
  reg::DirIdentity identity;  // of dir when opened; not used for a hive root
  // The parent key's directory and its identity when this key was found in
  // it, when known (not below a hive root), and this key's entry there: the
  // key is then looked at through the parent's descriptor (reg::KeyDir).
  bool parentKnown = false;
  std::size_t parentDirLength = 0;  // of dir, the parent's directory
  reg::DirIdentity parentIdentity;
  std::string fileName;
  Walks walks;
};

// Counts the changes this process has made to the registry (values written or
// deleted, keys created or deleted), so that a walk notices them. Raised after
// each change is in place.
std::atomic<unsigned long long> _registryChanges{1};

unsigned long long registryChanges() {
  return _registryChanges.load(std::memory_order_acquire);
}
void noteRegistryChange() {
  _registryChanges.fetch_add(1, std::memory_order_acq_rel);
}

using KeyPtr = std::shared_ptr<Key>;

// Never destroyed (PosixSupport.h says why).
std::mutex& handlesMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::unordered_map<const void*, KeyPtr>& handles() {
  static auto* table = new std::unordered_map<const void*, KeyPtr>;
  return *table;
}

std::string hiveDir(int hive) {
  return posix::underRoot("registry/") + kHives[hive].dirName;
}

std::string parentOf(const std::string& dir) {
  std::size_t slash = dir.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : dir.substr(0, slash);
}

// Whether this process may change the key in dir: not in read-only mode, and
// the directory (or, for one not created yet, its nearest existing ancestor)
// is writable.
bool mayWrite(const std::string& dir) {
  if (posix::envSwitch("PDA_REGISTRY_READONLY")) return false;
  std::string d = dir;
  for (;;) {
    // The usual case, a directory that exists and may be written, in one call.
    if (::access(d.c_str(), W_OK) == 0) return true;
    if (::access(d.c_str(), F_OK) == 0) return false;
    if (d == "/" || d.empty()) return false;
    d = parentOf(d);
  }
}

// mayWrite() for the key in dir, asked through its entry fileName in the
// directory of parent when that is at hand, which answers the same for an
// existing key with a path of one name.
bool mayWriteKey(const std::string& dir, const reg::KeyDir* parent, const std::string& fileName) {
  if (parent && !posix::envSwitch("PDA_REGISTRY_READONLY") &&
      ::faccessat(parent->fd, fileName.c_str(), W_OK, 0) == 0)
    return true;
  return mayWrite(dir);
}

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

LONG findKey(HKEY h, KeyPtr* out) {
  if (!h) return ERROR_INVALID_HANDLE;
  for (int i = 0; i < static_cast<int>(sizeof kHives / sizeof kHives[0]); ++i) {
    if (kHives[i].handle == h) {
      auto key = std::make_shared<Key>();
      key->hive = i;
      key->dir = hiveDir(i);
      key->hiveRoot = true;
      key->access = mayWrite(key->dir) ? KEY_ALL_ACCESS : KEY_READ;
      *out = std::move(key);
      return ERROR_SUCCESS;
    }
  }
  std::lock_guard<std::mutex> lock(handlesMutex());
  auto it = handles().find(h);
  if (it == handles().end()) return ERROR_INVALID_HANDLE;
  *out = it->second;
  return ERROR_SUCCESS;
}

HKEY addHandle(KeyPtr key) {
  HKEY h = reinterpret_cast<HKEY>(key.get());
  std::lock_guard<std::mutex> lock(handlesMutex());
  handles()[h] = std::move(key);
  return h;
}

// The descriptor of the key's parent directory, when the key knows it and
// the parent's directory is still the one the key was found in.
std::shared_ptr<const reg::KeyDir> parentDirOf(const Key& key) {
  if (!key.parentKnown) return nullptr;
  return reg::openKeyDir(key.dir, key.parentDirLength, key.parentIdentity);
}

// The key still exists, as the same directory it was opened as. Looked at
// below the parent's directory when it is at hand: that answers the same (see
// reg::KeyDir) with a path of one name.
LONG checkAlive(const Key& key, const reg::KeyDir* parent) {
  if (key.hiveRoot) return ERROR_SUCCESS;
  reg::DirIdentity now;
  bool found =
      parent ? reg::identifyAt(parent->fd, key.fileName, &now) : reg::identify(key.dir, &now);
  if (!found || now != key.identity) return ERROR_KEY_DELETED;
  return ERROR_SUCCESS;
}

LONG checkAlive(const Key& key) {
  if (key.hiveRoot) return ERROR_SUCCESS;
  return checkAlive(key, parentDirOf(key).get());
}

// A key handle together with its right check.
LONG useRights(HKEY h, REGSAM needed, KeyPtr* out) {
  LONG rc = findKey(h, out);
  if (rc != ERROR_SUCCESS) return rc;
  if (((*out)->access & needed) != needed) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// A key handle together with its right check and liveness check, and the
// descriptor of its parent's directory when it has one.
LONG useKey(HKEY h, REGSAM needed, KeyPtr* out, std::shared_ptr<const reg::KeyDir>* parent) {
  LONG rc = useRights(h, needed, out);
  if (rc != ERROR_SUCCESS) return rc;
  *parent = parentDirOf(**out);
  return checkAlive(**out, parent->get());
}

LONG splitPath(const char* subKey, std::vector<std::string>* out) {
  out->clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  if (*subKey == '\\') return ERROR_INVALID_PARAMETER;
  std::string name;
  for (const char* p = subKey;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (name.empty()) {
        // Only a single trailing separator is allowed to leave an empty name.
        if (*p == '\0' && p > subKey && p[-1] == '\\' && (p - 1 == subKey || p[-2] != '\\')) break;
        return ERROR_INVALID_PARAMETER;
      }
      if (name.size() > reg::kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
      out->push_back(name);
      name.clear();
      if (*p == '\0') break;
    } else {
      name += *p;
    }
  }
  return ERROR_SUCCESS;
}

// Where a path below a handle starts: from the handle's own key, or, when the
// 32-bit view redirects it, from the hive root with the whole redirected path.
struct Walk {
  int hive = kMachineHive;
  std::string dir;
  std::vector<std::string> path;  // of dir, below the hive
  std::vector<std::string> rest;  // names still to walk
  bool fromHandle = true;         // dir is the handle's key
};

void planWalk(const Key& base, std::vector<std::string>&& names, REGSAM sam, Walk* walk) {
  walk->hive = base.hive;
  walk->dir = base.dir;
  walk->path = base.path;
  walk->fromHandle = true;
  if (base.hive != kMachineHive || !(sam & KEY_WOW64_32KEY) ||
      posix::envSwitch("PDA_EMULATE_32BIT")) {
    walk->rest = std::move(names);
    return;
  }
  walk->rest = names;
  std::vector<std::string> full = base.path;
  full.insert(full.end(), names.begin(), names.end());
  if (full.empty() || !pda::ciEquals(full[0].c_str(), "SOFTWARE")) return;
  if (full.size() >= 2 && pda::ciEquals(full[1].c_str(), "Wow6432Node")) return;
  full.insert(full.begin() + 1, "Wow6432Node");
  walk->dir = hiveDir(base.hive);
  walk->path.clear();
  walk->rest = std::move(full);
  walk->fromHandle = false;
}

// Creates the subkey name in the key walk->dir (or finds it, when another
// writer created it first) and descends into it; fileName is its entry.
LONG createStep(Walk* walk, const std::string& name, std::string* fileName) {
  std::string encoded = reg::encodeKeyName(name);
  if (encoded.size() > NAME_MAX) return ERROR_INVALID_PARAMETER;
  reg::WriterGuard writers;
  if (walk->path.empty()) {
    // The hive root appears at the first key created in it.
    int e = posix::makeDirectories(walk->dir);
    if (e != 0) return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  }
  reg::KeyLock lock;
  LONG rc = lock.acquire(walk->dir);
  if (rc != ERROR_SUCCESS) return rc;
  reg::SubKey found;
  if (!reg::findSubKey(walk->dir, name, &found)) {
    std::string dir = walk->dir + "/" + encoded;
    if (::mkdir(dir.c_str(), 0755) != 0)
      return static_cast<LONG>(posix::win32FromErrno(errno, ERROR_CANTWRITE));
    noteRegistryChange();
    found.name = name;
    found.fileName = encoded;
  }
  walk->dir += "/" + found.fileName;
  walk->path.push_back(found.name);
  *fileName = std::move(found.fileName);
  return ERROR_SUCCESS;
}

LONG openOrCreate(HKEY hKey, LPCSTR subKey, REGSAM sam, bool create, PHKEY result,
                  LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if ((sam & kViewFlags) == kViewFlags) return ERROR_INVALID_PARAMETER;
  KeyPtr base;
  LONG rc = findKey(hKey, &base);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> names;
  rc = splitPath(subKey, &names);
  if (rc != ERROR_SUCCESS) return rc;

  Walk walk;
  planWalk(*base, std::move(names), sam, &walk);
  auto key = std::make_shared<Key>();
  // The directory the walk stands in, and its identity when known: the parent
  // of the key found next.
  bool dirKnown = walk.fromHandle && !base->hiveRoot;
  reg::DirIdentity dirIdentity = base->identity;
  std::shared_ptr<const reg::KeyDir> parent;
  // The identity of the last key found on the way, when the search gave it:
  // that is the key being opened, so it need not be looked at once more.
  reg::DirIdentity lastIdentity;
  bool lastIdentified = false;
  bool baseAlive = base->hiveRoot;
  std::size_t next = 0;
  if (dirKnown && !walk.rest.empty()) {
    // The first name is looked up in the handle's own directory through its
    // descriptor: found there, it also shows that the handle's key still
    // exists (reg::KeyDir says why), which would take a look of its own.
    if (auto dir = reg::openKeyDir(base->dir, base->dir.size(), base->identity)) {
      reg::SubKey found;
      if (reg::findSubKeyIn(dir->fd, walk.rest[0], &found)) {
        baseAlive = true;
        parent = std::move(dir);
        key->parentKnown = true;
        key->parentIdentity = dirIdentity;
        key->fileName = found.fileName;
        walk.dir += "/" + found.fileName;
        walk.path.push_back(found.name);
        lastIdentity = found.identity;
        lastIdentified = found.identified;
        dirKnown = found.identified;
        dirIdentity = found.identity;
        next = 1;
      }
    }
  }
  if (!baseAlive) {
    rc = checkAlive(*base);
    if (rc != ERROR_SUCCESS) return rc;
  }

  bool created = false;
  for (std::size_t i = next; i < walk.rest.size(); ++i) {
    const std::string& name = walk.rest[i];
    parent.reset();
    key->parentKnown = dirKnown;
    key->parentIdentity = dirIdentity;
    dirKnown = false;
    lastIdentified = false;
    reg::SubKey found;
    if (reg::findSubKey(walk.dir, name, &found)) {
      key->fileName = found.fileName;
      walk.dir += "/" + found.fileName;
      walk.path.push_back(found.name);
      lastIdentity = found.identity;
      lastIdentified = found.identified;
      dirKnown = found.identified;
      dirIdentity = found.identity;
      continue;
    }
    if (!create) return ERROR_FILE_NOT_FOUND;
    // A key made directly below the handle's key needs the handle's right to
    // create subkeys; any key needs a process that may write the registry.
    if (walk.fromHandle && i == 0 && !(base->access & KEY_CREATE_SUB_KEY))
      return ERROR_ACCESS_DENIED;
    if (!mayWrite(walk.dir)) return ERROR_ACCESS_DENIED;
    rc = createStep(&walk, name, &key->fileName);
    if (rc != ERROR_SUCCESS) return rc;
    created = true;
  }

  key->hive = walk.hive;
  key->path = std::move(walk.path);
  key->dir = std::move(walk.dir);
  key->hiveRoot = key->path.empty();
  if (walk.rest.empty() && !key->hiveRoot) {
    // The handle's own key again, just checked to exist.
    key->parentKnown = base->parentKnown;
    key->parentIdentity = base->parentIdentity;
    key->fileName = base->fileName;
    lastIdentity = base->identity;
    lastIdentified = true;
  }
  if (key->hiveRoot) key->parentKnown = false;
  if (key->parentKnown) {
    key->parentDirLength = key->dir.size() - key->fileName.size() - 1;
    if (!parent) parent = parentDirOf(*key);
  }
  // Whether the process may write the key: asked once, and only when a write
  // right depends on it.
  int writable = -1;
  auto mayWriteIt = [&]() {
    if (writable < 0) writable = mayWriteKey(key->dir, parent.get(), key->fileName) ? 1 : 0;
    return writable == 1;
  };
  key->access = mapGenericRights(sam, mayWriteIt);
  if ((key->access & kWriteRights) && !mayWriteIt()) return ERROR_ACCESS_DENIED;
  if (!key->hiveRoot) {
    if (lastIdentified)
      key->identity = lastIdentity;
    else if (!reg::identify(key->dir, &key->identity))
      return ERROR_FILE_NOT_FOUND;
  }
  *result = addHandle(std::move(key));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

// The values of key, read below its parent's directory when that is at hand.
LONG readValues(const Key& key, const reg::KeyDir* parent, std::vector<RegValue>* values) {
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
void listSubKeys(const Key& key, const reg::KeyDir* parent, std::vector<reg::SubKey>* out) {
  if (parent)
    reg::listSubKeysAt(parent->fd, key.fileName, out);
  else
    reg::listSubKeys(key.dir, out);
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
  reg::WriterGuard writers;
  if (key.hiveRoot) {
    int e = posix::makeDirectories(key.dir);
    if (e != 0) return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  }
  reg::KeyLock lock;
  LONG rc = lock.acquire(key.dir);
  if (rc != ERROR_SUCCESS) return rc;
  // Under the lock: the key may have been deleted (and another made under its
  // name) since the caller looked.
  std::shared_ptr<const reg::KeyDir> parent = parentDirOf(key);
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
  if (!hKey) return ERROR_INVALID_HANDLE;
  for (const Hive& hive : kHives)
    if (hive.handle == hKey) return ERROR_SUCCESS;
  KeyPtr key;  // released after the table's lock
  std::lock_guard<std::mutex> lock(handlesMutex());
  auto it = handles().find(hKey);
  if (it == handles().end()) return ERROR_INVALID_HANDLE;
  key = std::move(it->second);
  handles().erase(it);
  return ERROR_SUCCESS;
}

LONG pdaRegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  KeyPtr key;
  std::shared_ptr<const reg::KeyDir> parent;
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
  std::shared_ptr<const reg::KeyDir> parent;
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
  std::shared_ptr<const reg::KeyDir> parent;
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
    reg::SubKey found;
    if (!reg::findSubKey(dir, name, &found)) return ERROR_FILE_NOT_FOUND;
    dir += "/" + found.fileName;
    ++depth;
  }
  if (depth == 0) return ERROR_ACCESS_DENIED;  // a hive root is never deleted
  std::string parentDir = parentOf(dir);
  if (!mayWrite(parentDir) || !mayWrite(dir)) return ERROR_ACCESS_DENIED;

  reg::WriterGuard writers;
  reg::KeyLock parentLock;
  rc = parentLock.acquire(parentDir);
  if (rc != ERROR_SUCCESS) return rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc;
  reg::KeyLock keyLock;
  rc = keyLock.acquire(dir);
  if (rc != ERROR_SUCCESS) return rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc;
  std::vector<reg::SubKey> children;
  reg::listSubKeys(dir, &children);
  // As on Windows, a key with subkeys cannot be deleted.
  if (!children.empty()) return ERROR_ACCESS_DENIED;
  int e = reg::removeKeyDirectory(parentDir, dir);
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
  Walks& walk = key->walks;
  std::lock_guard<std::mutex> guard(walk.mutex);
  const unsigned long long changes = registryChanges();
  if (dwIndex == 0 || !walk.subKeysRead || dwIndex != walk.nextSubKey ||
      walk.subKeysChanges != changes) {
    walk.subKeysRead = false;
    std::shared_ptr<const reg::KeyDir> parent = parentDirOf(*key);
    rc = checkAlive(*key, parent.get());
    if (rc != ERROR_SUCCESS) return rc;
    listSubKeys(*key, parent.get(), &walk.subKeys);
    walk.subKeysRead = true;
    walk.subKeysChanges = changes;
  }
  walk.nextSubKey = dwIndex + 1;
  const std::vector<reg::SubKey>& subKeys = walk.subKeys;
  if (dwIndex >= subKeys.size()) return ERROR_NO_MORE_ITEMS;
  const reg::SubKey& sub = subKeys[dwIndex];
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
  Walks& walk = key->walks;
  std::lock_guard<std::mutex> guard(walk.mutex);
  const unsigned long long changes = registryChanges();
  if (dwIndex == 0 || !walk.valuesRead || dwIndex != walk.nextValue ||
      walk.valuesChanges != changes) {
    walk.valuesRead = false;
    std::shared_ptr<const reg::KeyDir> parent = parentDirOf(*key);
    rc = checkAlive(*key, parent.get());
    if (rc != ERROR_SUCCESS) return rc;
    rc = readValues(*key, parent.get(), &walk.values);
    if (rc != ERROR_SUCCESS) return rc;
    walk.valuesRead = true;
    walk.valuesChanges = changes;
  }
  walk.nextValue = dwIndex + 1;
  const std::vector<RegValue>& values = walk.values;
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
  std::shared_ptr<const reg::KeyDir> parent;
  LONG rc = useKey(hKey, KEY_QUERY_VALUE, &key, &parent);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass && *lpcchClass == 0) return ERROR_MORE_DATA;
  // The subkeys and the values are read only when the caller asks about them.
  std::vector<reg::SubKey> subKeys;
  if (lpcSubKeys || lpcbMaxSubKeyLen) listSubKeys(*key, parent.get(), &subKeys);
  std::vector<RegValue> values;
  if (lpcValues || lpcbMaxValueNameLen || lpcbMaxValueLen) {
    rc = readValues(*key, parent.get(), &values);
    if (rc != ERROR_SUCCESS) return rc;
  }

  std::size_t maxSubKey = 0, maxName = 0, maxData = 0;
  for (const reg::SubKey& s : subKeys) maxSubKey = std::max(maxSubKey, s.name.size());
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

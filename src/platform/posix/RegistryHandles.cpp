#include "platform/posix/RegistryHandles.h"

#include <unistd.h>

#include <cerrno>
#include <unordered_map>

#include "platform/posix/PosixSupport.h"

namespace pda {
namespace platform {
namespace reg {

namespace posix = pda::platform::posix;

// Counts the changes this process has made to the registry (values written or
// deleted, keys created or deleted), so that a walk notices them. Raised after
// each change is in place.
namespace {
std::atomic<unsigned long long> _registryChanges{1};
}  // namespace

unsigned long long registryChanges() {
  return _registryChanges.load(std::memory_order_acquire);
}
void noteRegistryChange() {
  _registryChanges.fetch_add(1, std::memory_order_acq_rel);
}

namespace {

struct Hive {
  HKEY handle;
  const char* dirName;
};
const Hive kHives[] = {{HKEY_CLASSES_ROOT, "HKCR"},
                       {HKEY_CURRENT_USER, "HKCU"},
                       {HKEY_LOCAL_MACHINE, "HKLM"},
                       {HKEY_USERS, "HKU"}};

// Never destroyed (PosixSupport.h says why).
std::mutex& handlesMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::unordered_map<const void*, KeyPtr>& handles() {
  static auto* table = new std::unordered_map<const void*, KeyPtr>;
  return *table;
}

}  // namespace

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
    // Only a directory that does not exist sends the question up: asking
    // again whether it exists would race another process that makes it
    // meanwhile (a key created in two processes at once), and answer "may
    // not write" for a directory that may well be written.
    if (::access(d.c_str(), W_OK) == 0) return true;
    if (errno != ENOENT) return false;
    if (d == "/" || d.empty()) return false;
    d = parentOf(d);
  }
}

// mayWrite() for the key in dir, asked through its entry fileName in the
// directory of parent when that is at hand, which answers the same for an
// existing key with a path of one name.
bool mayWriteKey(const std::string& dir, const KeyDir* parent, const std::string& fileName) {
  if (parent && !posix::envSwitch("PDA_REGISTRY_READONLY") &&
      ::faccessat(parent->fd, fileName.c_str(), W_OK, 0) == 0)
    return true;
  return mayWrite(dir);
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
std::shared_ptr<const KeyDir> parentDirOf(const Key& key) {
  if (!key.parentKnown) return nullptr;
  return openKeyDir(key.dir, key.parentDirLength, key.parentIdentity);
}

// The key still exists, as the same directory it was opened as. Looked at
// below the parent's directory when it is at hand: that answers the same (see
// KeyDir) with a path of one name.
LONG checkAlive(const Key& key, const KeyDir* parent) {
  if (key.hiveRoot) return ERROR_SUCCESS;
  DirIdentity now;
  bool found = parent ? identifyAt(parent->fd, key.fileName, &now) : identify(key.dir, &now);
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
LONG useKey(HKEY h, REGSAM needed, KeyPtr* out, std::shared_ptr<const KeyDir>* parent) {
  LONG rc = useRights(h, needed, out);
  if (rc != ERROR_SUCCESS) return rc;
  *parent = parentDirOf(**out);
  return checkAlive(**out, parent->get());
}

LONG closeHandle(HKEY h) {
  if (!h) return ERROR_INVALID_HANDLE;
  for (const Hive& hive : kHives)
    if (hive.handle == h) return ERROR_SUCCESS;
  KeyPtr key;  // released after the table's lock
  std::lock_guard<std::mutex> lock(handlesMutex());
  auto it = handles().find(h);
  if (it == handles().end()) return ERROR_INVALID_HANDLE;
  key = std::move(it->second);
  handles().erase(it);
  return ERROR_SUCCESS;
}

}  // namespace reg
}  // namespace platform
}  // namespace pda

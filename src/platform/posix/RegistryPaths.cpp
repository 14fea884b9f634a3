#include "platform/posix/RegistryPaths.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "base/Text.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/RegistryHandles.h"
#include "platform/posix/RegistryKeys.h"

namespace pda {
namespace platform {
namespace reg {

namespace posix = pda::platform::posix;

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
      if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
      out->push_back(name);
      name.clear();
      if (*p == '\0') break;
    } else {
      name += *p;
    }
  }
  return ERROR_SUCCESS;
}

namespace {

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
  std::string encoded = encodeKeyName(name);
  if (encoded.size() > NAME_MAX) return ERROR_INVALID_PARAMETER;
  WriterGuard writers;
  if (walk->path.empty()) {
    // The hive root appears at the first key created in it.
    int e = posix::makeDirectories(walk->dir);
    if (e != 0) return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  }
  KeyLock lock;
  LONG rc = lock.acquire(walk->dir);
  if (rc != ERROR_SUCCESS) return rc;
  SubKey found;
  if (!findSubKey(walk->dir, name, &found)) {
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

}  // namespace

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
  // The directory the walk stands in: its identity when known, and then the
  // parent's identity of the key found next. After the last step it is the
  // key being opened, which then need not be looked at once more.
  bool hereKnown = walk.fromHandle && !base->hiveRoot;
  DirIdentity hereIdentity = base->identity;
  std::shared_ptr<const KeyDir> parent;
  bool baseAlive = base->hiveRoot;
  std::size_t next = 0;
  // Steps into the subkey found below the walk's directory.
  auto enter = [&](const SubKey& found) {
    key->parentKnown = hereKnown;
    key->parentIdentity = hereIdentity;
    key->fileName = found.fileName;
    walk.dir += "/" + found.fileName;
    walk.path.push_back(found.name);
    hereKnown = found.identified;
    hereIdentity = found.identity;
  };
  if (hereKnown && !walk.rest.empty()) {
    // The first name is looked up in the handle's own directory through its
    // descriptor: found there, it also shows that the handle's key still
    // exists (KeyDir says why), which would take a look of its own.
    if (auto dir = openKeyDir(base->dir, base->dir.size(), base->identity)) {
      SubKey found;
      if (findSubKeyIn(dir->fd, walk.rest[0], &found)) {
        baseAlive = true;
        parent = std::move(dir);
        enter(found);
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
    SubKey found;
    if (findSubKey(walk.dir, name, &found)) {
      enter(found);
      continue;
    }
    if (!create) return ERROR_FILE_NOT_FOUND;
    // A key made directly below the handle's key needs the handle's right to
    // create subkeys; any key needs a process that may write the registry.
    if (walk.fromHandle && i == 0 && !(base->access & KEY_CREATE_SUB_KEY))
      return ERROR_ACCESS_DENIED;
    if (!mayWrite(walk.dir)) return ERROR_ACCESS_DENIED;
    key->parentKnown = hereKnown;
    key->parentIdentity = hereIdentity;
    rc = createStep(&walk, name, &key->fileName);
    if (rc != ERROR_SUCCESS) return rc;
    hereKnown = false;
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
    if (hereKnown)
      key->identity = hereIdentity;
    else if (!identify(key->dir, &key->identity))
      return ERROR_FILE_NOT_FOUND;
  }
  *result = addHandle(std::move(key));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

}  // namespace reg
}  // namespace platform
}  // namespace pda

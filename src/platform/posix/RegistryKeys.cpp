#include "platform/posix/RegistryKeys.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>

#include "base/Text.h"
#include "platform/posix/PosixSupport.h"

namespace pda {
namespace platform {
namespace reg {

namespace {

const char kHex[] = "0123456789ABCDEF";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isDirectory(int dirFd, const char* name, unsigned char type) {
  if (type == DT_DIR) return true;
  if (type != DT_UNKNOWN && type != DT_LNK) return false;
  struct stat st;
  return ::fstatat(dirFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool identityFrom(const struct statx& st, DirIdentity* id) {
  if (!(st.stx_mask & STATX_TYPE) || !S_ISDIR(st.stx_mode)) return false;
  *id = DirIdentity();
  id->dev = (static_cast<unsigned long long>(st.stx_dev_major) << 32) | st.stx_dev_minor;
  id->ino = st.stx_ino;
  if (st.stx_mask & STATX_BTIME) {
    id->birthSeconds = st.stx_btime.tv_sec;
    id->birthNanoseconds = st.stx_btime.tv_nsec;
  }
  return true;
}

// Never destroyed (PosixSupport.h says why).
std::mutex& writerMutex() {
  static auto* m = new std::mutex;
  return *m;
}

// Sorts keys in case-insensitive name order, as pda::ciCompare orders names,
// and names equal but for case by their bytes. Each name is folded to lower
// case once, rather than at every comparison, and the keys are moved once.
void sortByName(std::vector<SubKey>* keys) {
  const std::size_t n = keys->size();
  if (n < 2) return;
  std::vector<std::string> folded(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string& name = (*keys)[i].name;
    folded[i].resize(name.size());
    for (std::size_t k = 0; k < name.size(); ++k)
      folded[i][k] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[k])));
  }
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  // Folded names hold no NUL and compare as unsigned bytes, as ciCompare does.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    int c = folded[a].compare(folded[b]);
    return c != 0 ? c < 0 : (*keys)[a].name < (*keys)[b].name;
  });
  std::vector<SubKey> sorted;
  sorted.reserve(n);
  for (std::size_t i : order) sorted.push_back(std::move((*keys)[i]));
  keys->swap(sorted);
}

}  // namespace

std::string encodeKeyName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '/' || c == '%' || (c == '.' && i == 0)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool decodeKeyName(const char* fileName, std::string* name) {
  name->clear();
  if (!fileName || !*fileName || *fileName == '.') return false;
  for (const char* p = fileName; *p; ++p) {
    if (*p != '%') {
      *name += *p;
      continue;
    }
    int hi = p[1] ? hexValue(p[1]) : -1;
    int lo = hi >= 0 && p[2] ? hexValue(p[2]) : -1;
    if (hi < 0 || lo < 0) return false;
    *name += static_cast<char>(hi * 16 + lo);
    p += 2;
  }
  // Only the one spelling that encodeKeyName gives is a key, so that two
  // entries never stand for the same name ("%41" is not "A").
  return !name->empty() && name->size() <= kMaxKeyNameLength &&
         name->find('\0') == std::string::npos && name->find('\\') == std::string::npos &&
         encodeKeyName(*name) == fileName;
}

int listSubKeys(const std::string& dir, std::vector<SubKey>* out) {
  return listSubKeysAt(AT_FDCWD, dir, out);
}

int listSubKeysAt(int dirFd, const std::string& path, std::vector<SubKey>* out) {
  out->clear();
  // The entries are read with getdents64 directly: opendir would add a stat
  // of the directory that the walk has no use for.
  int fd = ::openat(dirFd, path.empty() ? "." : path.c_str(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  alignas(struct dirent64) char buffer[32768];
  for (;;) {
    ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      SubKey key;
      if (!decodeKeyName(entry->d_name, &key.name)) continue;
      if (!isDirectory(fd, entry->d_name, entry->d_type)) continue;
      key.fileName = entry->d_name;
      out->push_back(std::move(key));
    }
  }
  ::close(fd);
  sortByName(out);
  return 0;
}

namespace {

// findSubKey over the directory at path relative to dirFd.
bool findSubKeyAt(int dirFd, const std::string& path, const std::string& name, SubKey* found) {
  // The usual case first: the name spelled as stored. Its identity comes with
  // the same look, so that opening the key needs no second one.
  std::string fileName = encodeKeyName(name);
  DirIdentity identity;
  if (identifyAt(dirFd, path.empty() ? fileName : path + "/" + fileName, &identity)) {
    found->name = name;
    found->fileName = fileName;
    found->identity = identity;
    found->identified = true;
    return true;
  }
  std::vector<SubKey> keys;
  listSubKeysAt(dirFd, path, &keys);
  for (SubKey& key : keys) {
    if (pda::ciEquals(key.name.c_str(), name.c_str())) {
      *found = std::move(key);
      return true;
    }
  }
  return false;
}

}  // namespace

bool findSubKey(const std::string& dir, const std::string& name, SubKey* found) {
  return findSubKeyAt(AT_FDCWD, dir, name, found);
}

bool findSubKeyIn(int dirFd, const std::string& name, SubKey* found) {
  return findSubKeyAt(dirFd, std::string(), name, found);
}

bool identify(const std::string& dir, DirIdentity* id) {
  return identifyAt(AT_FDCWD, dir, id);
}

bool identifyAt(int dirFd, const std::string& path, DirIdentity* id) {
  struct statx st;
  return ::statx(dirFd, path.c_str(), 0, STATX_TYPE | STATX_INO | STATX_BTIME, &st) == 0 &&
         identityFrom(st, id);
}

KeyDir::~KeyDir() {
  if (fd >= 0) ::close(fd);
}

namespace {

// The directories used last, most recent first. A tree of keys is read one
// key with its subkeys after another, so a few suffice; each holds one
// descriptor for as long as it stays in the cache (or a caller still uses it).
constexpr std::size_t kKeyDirCacheSize = 32;

struct KeyDirCache {
  std::mutex mutex;
  std::vector<std::shared_ptr<const KeyDir>> recent;
};

// Never destroyed (PosixSupport.h says why).
KeyDirCache& keyDirCache() {
  static auto* cache = new KeyDirCache;
  return *cache;
}

}  // namespace

std::shared_ptr<const KeyDir> openKeyDir(const std::string& path, std::size_t length,
                                         const DirIdentity& identity) {
  KeyDirCache& cache = keyDirCache();
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    for (std::size_t i = 0; i < cache.recent.size(); ++i) {
      if (cache.recent[i]->identity != identity) continue;
      std::shared_ptr<const KeyDir> hit = cache.recent[i];
      std::rotate(cache.recent.begin(), cache.recent.begin() + static_cast<std::ptrdiff_t>(i),
                  cache.recent.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return hit;
    }
  }
  auto opened = std::make_shared<KeyDir>();
  opened->fd = ::open(path.substr(0, length).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (opened->fd < 0) return nullptr;
  struct statx st;
  if (::statx(opened->fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_BTIME, &st) != 0 ||
      !identityFrom(st, &opened->identity) || opened->identity != identity)
    return nullptr;
  std::shared_ptr<const KeyDir> evicted;  // closed after the cache's lock
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.recent.size() >= kKeyDirCacheSize) {
    evicted = std::move(cache.recent.back());
    cache.recent.pop_back();
  }
  cache.recent.insert(cache.recent.begin(), opened);
  return opened;
}

KeyLock::~KeyLock() {
  if (_fd >= 0) ::close(_fd);  // closing the descriptor releases the flock
}

LONG KeyLock::acquire(const std::string& dir) {
  if (_fd >= 0) return ERROR_INVALID_PARAMETER;
  std::string path = dir + "/.lock";
  // Read-only is enough for flock, and lets a writer that did not create the
  // lock file (another user with rights on the key) use it too.
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    int e = errno;
    return (e == ENOENT || e == ENOTDIR)
               ? ERROR_KEY_DELETED
               : static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      int e = errno;
      ::close(fd);
      return static_cast<LONG>(posix::win32FromErrno(e, ERROR_CANTWRITE));
    }
  }
  // A deleter renames the key away while holding this lock; whoever got the
  // lock after it holds a lock file that is no longer the key's.
  struct stat held, current;
  if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &current) != 0 ||
      held.st_dev != current.st_dev || held.st_ino != current.st_ino) {
    ::close(fd);
    return ERROR_KEY_DELETED;
  }
  _fd = fd;
  return ERROR_SUCCESS;
}

void lockWriters() {
  writerMutex().lock();
}
void unlockWriters() {
  writerMutex().unlock();
}

int removeKeyDirectory(const std::string& parentDir, const std::string& dir) {
  static std::atomic<unsigned> counter{0};
  std::string trash = parentDir + "/.deleted." + std::to_string(::getpid()) + "." +
                      std::to_string(counter.fetch_add(1));
  if (::rename(dir.c_str(), trash.c_str()) != 0) return errno;
  // The key is gone now; what follows only tidies up. A leftover (a file we
  // cannot remove) stays under its hidden name, which is never read as a key.
  if (DIR* d = ::opendir(trash.c_str())) {
    std::vector<std::string> files;
    while (struct dirent* entry = ::readdir(d)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        files.push_back(entry->d_name);
    }
    ::closedir(d);
    for (const std::string& f : files) ::unlink((trash + "/" + f).c_str());
  }
  ::rmdir(trash.c_str());
  return 0;
}

}  // namespace reg
}  // namespace platform
}  // namespace pda

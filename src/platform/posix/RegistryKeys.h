#pragma once

// The directories of the emulated registry: one directory per key, named by
// the key's name in the case it was created with, found without regard to
// case; the key's values live in the file ".values" inside it (ValuesFile.h).
//
// Key names may hold any character but '\\' (the path separator) and NUL.
// Those that cannot stand in a file name are written as '%' and two upper-case
// hex digits: '/', '%' itself, and a leading '.' (so that no key directory
// begins with '.', leaving such names to the files of the key: ".values",
// ".lock", and the names of keys being deleted). The encoding is reversible.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pda {
namespace platform {
namespace reg {

// Key names have at most 255 characters, as on Windows.
constexpr std::size_t kMaxKeyNameLength = 255;

// The file name that stands for a key name.
std::string encodeKeyName(const std::string& name);
// The key name that a directory entry stands for; false when the entry is not
// a key (a name of the key's own files, or an invalid escape).
bool decodeKeyName(const char* fileName, std::string* name);

// The identity of a key directory, so that a handle notices when its key was
// deleted, even when a key of the same name was created since. File systems
// reuse inode numbers at once, so the directory's birth time is part of it;
// where the file system keeps no birth time, the inode alone has to do.
struct DirIdentity {
  unsigned long long dev = 0;
  unsigned long long ino = 0;
  long long birthSeconds = 0;
  unsigned birthNanoseconds = 0;
  bool operator==(const DirIdentity& o) const {
    return dev == o.dev && ino == o.ino && birthSeconds == o.birthSeconds &&
           birthNanoseconds == o.birthNanoseconds;
  }
  bool operator!=(const DirIdentity& o) const { return !(*this == o); }
};
bool identify(const std::string& dir, DirIdentity* id);
// The same for path relative to the directory descriptor dirFd.
bool identifyAt(int dirFd, const std::string& path, DirIdentity* id);

struct SubKey {
  std::string name;      // as created
  std::string fileName;  // the directory entry
  // The key directory's identity, when the search that found it gave it.
  DirIdentity identity;
  bool identified = false;
};

// The subkeys of the key in dir, in case-insensitive name order (names that
// differ only in case, which we never create, are ordered by their bytes).
// Returns 0, or the errno of opening dir; a missing dir is a key without
// subkeys and returns ENOENT with out empty.
int listSubKeys(const std::string& dir, std::vector<SubKey>* out);
// The same for the directory at path relative to the descriptor dirFd ("" for
// dirFd's own directory).
int listSubKeysAt(int dirFd, const std::string& path, std::vector<SubKey>* out);

// Finds the subkey called name (without regard to case) in dir; fills found
// with its stored name and directory entry, and with its identity when the
// name is stored as spelled.
bool findSubKey(const std::string& dir, const std::string& name, SubKey* found);
// The same in the directory of the descriptor dirFd.
bool findSubKeyIn(int dirFd, const std::string& name, SubKey* found);

// A read-only descriptor (O_PATH) of one key directory, so that the keys
// below it are looked at with one short path instead of the whole path from
// the root. It stays the same directory whatever happens to its path: a key
// deleted (and maybe made anew under its name) leaves the descriptor on the
// deleted directory, where no subkey can be found any more, because a key is
// deleted only when it has no subkeys and nothing is ever created in it after.
// So a subkey found through it shows that the key still exists, and a key
// found missing through the descriptor of its parent is missing at its path
// too (as it would be when the parent itself was deleted: its subkeys went
// first).
struct KeyDir {
  int fd = -1;
  DirIdentity identity;
  KeyDir() = default;
  ~KeyDir();
  KeyDir(const KeyDir&) = delete;
  KeyDir& operator=(const KeyDir&) = delete;
};

// The descriptor of the directory that has identity, from a small cache of
// the directories used last (so that the keys below one key share one), or
// else opened at the first length characters of path; null when that is no
// longer the directory or cannot be opened. Safe for concurrent use by
// multiple threads.
std::shared_ptr<const KeyDir> openKeyDir(const std::string& path, std::size_t length,
                                         const DirIdentity& identity);

// Excludes other writers of one key: an exclusive flock on "<dir>/.lock" for
// other processes. flock does not order the threads of one process reliably,
// so every writer also holds writerMutex() (below) for the whole operation.
// After the flock is taken, the lock file is checked to be still the one in
// the key's directory: a key deleted meanwhile gives ERROR_KEY_DELETED.
class KeyLock {
 public:
  KeyLock() = default;
  ~KeyLock();
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;

  // ERROR_SUCCESS, ERROR_KEY_DELETED when dir is gone, or another Win32 code.
  LONG acquire(const std::string& dir);

 private:
  int _fd = -1;
};

// The in-process lock that every writer of the registry holds while it takes
// flocks and changes files. Writers lock keys from the root downwards only
// (a parent before its child), so processes cannot deadlock on flocks.
void lockWriters();
void unlockWriters();

class WriterGuard {
 public:
  WriterGuard() { lockWriters(); }
  ~WriterGuard() { unlockWriters(); }
  WriterGuard(const WriterGuard&) = delete;
  WriterGuard& operator=(const WriterGuard&) = delete;
};

// Removes a key directory that holds no subkeys: renames it out of the way
// (to a hidden name in parentDir, atomically, so that no process sees half a
// key), then removes its files. The caller holds the locks of the parent and
// of the key. Returns 0 or an errno value.
int removeKeyDirectory(const std::string& parentDir, const std::string& dir);

}  // namespace reg
}  // namespace platform
}  // namespace pda

// File locks: LockFileEx on a handle of the lock file. Locks belong to the
// handle, so two lockFile calls of one process exclude each other like two
// processes do, and the system drops the lock when the process ends.

#include <new>

#include "platform/platform.h"

namespace pda {
namespace platform {

namespace {
struct FileLock {
  HANDLE file;
};
}  // namespace

void* lockFile(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // A lock file that this process may not write is opened for reading:
  // LockFileEx needs no more.
  if (file == INVALID_HANDLE_VALUE)
    file = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  // Only a regular file is a lock file (CreateFileA opens no folder here,
  // but a device name such as "NUL" would open).
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return nullptr;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    CloseHandle(file);
    return nullptr;
  }
  FileLock* lock = new (std::nothrow) FileLock{file};
  if (lock == nullptr) CloseHandle(file);  // closing releases the lock
  return lock;
}

void unlockFile(void* lock) noexcept {
  FileLock* held = static_cast<FileLock*>(lock);
  if (held == nullptr) return;
  OVERLAPPED at = {};
  UnlockFileEx(held->file, 0, 1, 0, &at);
  CloseHandle(held->file);
  delete held;
}

}  // namespace platform
}  // namespace pda

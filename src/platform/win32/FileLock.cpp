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

namespace {

// A waitMs of -1 waits as long as it takes; otherwise the lock is tried
// without blocking, every millisecond, until the time is up.
void* lockWithin(const char* path, long waitMs) {
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
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    OVERLAPPED at = {};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (waitMs < 0 ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (LockFileEx(file, flags, 0, 1, 0, &at)) break;
    if (waitMs < 0 || GetLastError() != ERROR_LOCK_VIOLATION ||
        GetTickCount64() - start >= static_cast<ULONGLONG>(waitMs)) {
      CloseHandle(file);
      return nullptr;
    }
    ::Sleep(1);
  }
  FileLock* lock = new (std::nothrow) FileLock{file};
  if (lock == nullptr) CloseHandle(file);  // closing releases the lock
  return lock;
}

}  // namespace

void* lockFile(const char* path) {
  return lockWithin(path, -1);
}

void* lockFileWithin(const char* path, unsigned milliseconds) {
  return lockWithin(path, static_cast<long>(milliseconds));
}

// MoveFileEx without MOVEFILE_REPLACE_EXISTING fails when the name is taken.
int publishFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return -1;
  if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? 1 : -1;
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

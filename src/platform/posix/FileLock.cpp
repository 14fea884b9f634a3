// File locks: flock on a descriptor of the lock file. flock belongs to the
// open file description, so two lockFile calls of one process exclude each
// other like two processes do, and the kernel drops the lock when the
// process dies. A child forked while a lock is held shares that description
// until it ends or runs exec (the descriptor is close-on-exec), and the lock
// is held until then.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "platform/platform.h"

namespace pda {
namespace platform {

namespace {
struct FileLock {
  int fd;
};
}  // namespace

namespace {

// A lock file that this process may not write (created by another user) is
// opened for reading: flock needs no more. A waitMs of -1 waits as long as
// it takes; otherwise the lock is tried without blocking, every millisecond,
// until the time is up.
void* lockWithin(const char* path, long waitMs) {
  if (!path || !*path) return nullptr;
  int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Only a regular file is a lock file: a folder or a device of that name is
  // something else, and is left alone.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  struct timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  while (::flock(fd, waitMs < 0 ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || waitMs < 0) {
      ::close(fd);
      return nullptr;
    }
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long elapsedMs =
        (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsedMs >= waitMs) {
      ::close(fd);
      return nullptr;
    }
    ::usleep(1000);
  }
  FileLock* lock = new (std::nothrow) FileLock{fd};
  if (!lock) ::close(fd);  // closing releases the lock
  return lock;
}

}  // namespace

void* lockFile(const char* path) {
  return lockWithin(path, -1);
}

void* lockFileWithin(const char* path, unsigned milliseconds) {
  return lockWithin(path, static_cast<long>(milliseconds));
}

// A hard link takes the name only when it is free; where the file system
// has no hard links, a rename after a look at the name serves (a name taken
// in between is then replaced).
int publishFile(const char* from, const char* to) {
  if (!from || !to) return -1;
  if (::link(from, to) == 0) {
    ::unlink(from);
    return 0;
  }
  if (errno == EEXIST) return 1;
  struct stat st;
  if (::stat(to, &st) == 0) return 1;
  return ::rename(from, to) == 0 ? 0 : -1;
}

void unlockFile(void* lock) noexcept {
  FileLock* held = static_cast<FileLock*>(lock);
  if (!held) return;
  ::close(held->fd);
  delete held;
}

}  // namespace platform
}  // namespace pda

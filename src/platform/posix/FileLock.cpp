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
#include <unistd.h>

#include <new>

#include "platform/platform.h"

namespace pda {
namespace platform {

namespace {
struct FileLock {
  int fd;
};
}  // namespace

// A lock file that this process may not write (created by another user) is
// opened for reading: flock needs no more.
void* lockFile(const char* path) {
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
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return nullptr;
    }
  }
  FileLock* lock = new (std::nothrow) FileLock{fd};
  if (!lock) ::close(fd);  // closing releases the lock
  return lock;
}

void unlockFile(void* lock) noexcept {
  FileLock* held = static_cast<FileLock*>(lock);
  if (!held) return;
  ::close(held->fd);
  delete held;
}

}  // namespace platform
}  // namespace pda

#include "platform/posix/PosixSupport.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace pda {
namespace platform {

const char* machineRoot() {
  // Read at every call: a test sets PDA_ROOT before it first touches the
  // machine, and a tool may point the library at another root.
  const char* root = std::getenv("PDA_ROOT");
  return (root && *root) ? root : "/var/lib/persisted-data-access";
}

namespace posix {

std::string underRoot(const char* rel) {
  std::string path = machineRoot();
  if (path.empty() || path.back() != '/') path += '/';
  path += rel;
  return path;
}

bool envSwitch(const char* name) noexcept {
  const char* value = std::getenv(name);
  return value && std::strcmp(value, "1") == 0;
}

DWORD win32FromErrno(int error, DWORD fallback) noexcept {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return fallback;
  }
}

int makeDirectories(const std::string& path) noexcept {
  if (path.empty()) return ENOENT;
  std::string partial;
  partial.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    partial += path[i];
    bool end = i + 1 == path.size();
    if ((path[i] == '/' && partial.size() > 1) || end) {
      if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int writeAll(int fd, const void* data, std::size_t size) noexcept {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace posix
}  // namespace platform
}  // namespace pda

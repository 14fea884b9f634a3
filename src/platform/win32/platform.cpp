// The few operating-system services the library needs beyond the Win32 calls
// themselves, implemented on Windows.

#include "platform/platform.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace pda {
namespace platform {

long long fileModificationTime(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  struct __stat64 info;
  if (_stat64(path, &info) != 0) return 0;
  return static_cast<long long>(info.st_mtime);
}

double monotonicMilliseconds() {
  // The counter's frequency is fixed at boot, so it is read once.
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : LONGLONG(1000);
  }();
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now)) return static_cast<double>(GetTickCount64());
  // Whole seconds and the remainder apart, so that a large counter value does
  // not lose precision in the division.
  const LONGLONG seconds = now.QuadPart / frequency;
  const LONGLONG rest = now.QuadPart % frequency;
  return static_cast<double>(seconds) * 1000.0 +
         static_cast<double>(rest) * 1000.0 / static_cast<double>(frequency);
}

}  // namespace platform
}  // namespace pda

namespace pda {
namespace platform {

namespace {
bool isSeparator(char c) {
  return c == '\\' || c == '/';
}
bool isDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}  // namespace

bool isAbsolutePath(const char* path) noexcept {
  if (path == nullptr) return false;
  if (isDriveLetter(path[0]) && path[1] == ':' && isSeparator(path[2])) return true;
  // "\\server\share\..." and "\\?\C:\...": both name their root.
  return isSeparator(path[0]) && isSeparator(path[1]) && path[2] != '\0';
}

HMODULE loadLibraryFromAbsolutePath(const char* path) {
  if (!isAbsolutePath(path)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The library's own directory and System32 for its dependencies; the
  // current directory and PATH are never searched.
  HMODULE module = LoadLibraryExA(path, nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A Windows without the search flags (Windows 7 before KB2533623) refuses
  // them: the altered search path still starts at the library's directory.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module;
}

}  // namespace platform
}  // namespace pda

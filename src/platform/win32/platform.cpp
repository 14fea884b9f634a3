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

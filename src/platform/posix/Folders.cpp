// The shell and system folders of the emulated machine, all below its root:
// <root>/ProgramData, <root>/System32 and <root>/SysWOW64. Nothing here creates
// a folder; the calls only say where it is.

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/PosixSupport.h"

namespace {

namespace posix = pda::platform::posix;

// The flags that may be combined with a CSIDL value (CSIDL_FLAG_CREATE and
// its siblings); they change nothing here.
constexpr int kCsidlFlagMask = 0xFF00;

// GetSystemDirectoryA's contract: with room for the path and its terminator,
// copies it and returns its length; otherwise leaves the buffer alone and
// returns the size needed, terminator included.
UINT copyDirectory(const std::string& path, LPSTR buffer, UINT size) {
  UINT length = static_cast<UINT>(path.size());
  if (!buffer || size <= length) return length + 1;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return length;
}

}  // namespace

extern "C" {

HRESULT pdaSHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath) {
  (void)hwnd;
  (void)hToken;
  (void)dwFlags;
  if (!pszPath) return E_INVALIDARG;
  pszPath[0] = '\0';
  if ((csidl & ~kCsidlFlagMask) != CSIDL_COMMON_APPDATA) return E_INVALIDARG;
  std::string path = posix::underRoot("ProgramData");
  // The caller's buffer holds MAX_PATH characters; a longer path is refused
  // rather than cut short.
  if (path.size() >= MAX_PATH) return E_FAIL;
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return S_OK;
}

UINT pdaGetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return copyDirectory(posix::underRoot("System32"), lpBuffer, uSize);
}

UINT pdaGetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
  // A 32-bit Windows has no WOW64 directory and says so this way.
  if (posix::envSwitch("PDA_EMULATE_32BIT")) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return copyDirectory(posix::underRoot("SysWOW64"), lpBuffer, uSize);
}

}  // extern "C"

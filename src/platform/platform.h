#pragma once

// The operating-system calls the library makes, and nothing else. On Windows
// this is the real Win32 API; on POSIX it is the stand-in in posix/, which
// emulates one Windows machine under the directory $PDA_ROOT (default
// /var/lib/persisted-data-access). Code outside src/platform/ includes this
// header (or the public pda/Win32.h) and never an operating-system header.
//
// On POSIX every stand-in call is a C function with the prefix "pda"
// (pdaCreateMutexA, ...), so that it cannot collide with another Win32 layer
// in the same process; the Win32 names are inline forwarders to them. Only the
// registry calls and the last error (pda/Win32.h) are exported; the calls
// below are the library's own and stay hidden.

#include "pda/Win32.h"

#if defined(_WIN32)

#  include <shlobj.h>

#  define PDA_PATH_SEP "\\"
#  define PDA_PATH_SEP_CHAR '\\'

#else

#  include <cstdint>

typedef void* HMODULE;
typedef intptr_t (*FARPROC)();
typedef LONG HRESULT;
typedef void* HWND;
typedef void* PSID;

// A recursive lock; created by InitializeCriticalSection, which allocates the
// lock behind impl, and released by DeleteCriticalSection.
typedef struct _RTL_CRITICAL_SECTION {
  void* impl;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

#  define S_OK ((HRESULT)0L)
#  define E_FAIL ((HRESULT)0x80004005L)
#  define E_INVALIDARG ((HRESULT)0x80070057L)
#  define CSIDL_COMMON_APPDATA 0x0023
#  define SHGFP_TYPE_CURRENT 0
#  define MAX_PATH 260
#  define INFINITE 0xFFFFFFFFu
#  define WAIT_OBJECT_0 0x00000000u
#  define WAIT_ABANDONED 0x00000080u
#  define WAIT_TIMEOUT 0x00000102u
#  define WAIT_FAILED 0xFFFFFFFFu
#  define EVENTLOG_SUCCESS 0x0000
#  define EVENTLOG_ERROR_TYPE 0x0001
#  define EVENTLOG_WARNING_TYPE 0x0002
#  define EVENTLOG_INFORMATION_TYPE 0x0004
#  define ERROR_NOT_OWNER 288L

#  define PDA_PATH_SEP "/"
#  define PDA_PATH_SEP_CHAR '/'

extern "C" {

// Event log: one line per event in <root>/EventLog/Application.log, and syslog.
HANDLE pdaRegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
BOOL pdaReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                     WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, void* lpRawData);
BOOL pdaDeregisterEventSource(HANDLE hEventLog);

// Folders: <root>/ProgramData, <root>/System32, <root>/SysWOW64.
HRESULT pdaSHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
UINT pdaGetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
UINT pdaGetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize);

// Synchronisation and process.
HANDLE pdaCreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
DWORD pdaWaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL pdaReleaseMutex(HANDLE hMutex);
BOOL pdaCloseHandle(HANDLE hObject);
void pdaInitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void pdaEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void pdaLeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void pdaDeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
DWORD pdaGetCurrentProcessId(void);
void pdaSleep(DWORD dwMilliseconds);

// Dynamic libraries: dlopen, dlsym, dlclose.
HMODULE pdaLoadLibraryA(LPCSTR lpLibFileName);
FARPROC pdaGetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL pdaFreeLibrary(HMODULE hLibModule);

}  // extern "C"

inline HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  return pdaRegisterEventSourceA(lpUNCServerName, lpSourceName);
}
inline BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID,
                         PSID lpUserSid, WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings,
                         void* lpRawData) {
  return pdaReportEventA(hEventLog, wType, wCategory, dwEventID, lpUserSid, wNumStrings, dwDataSize,
                         lpStrings, lpRawData);
}
inline BOOL DeregisterEventSource(HANDLE hEventLog) {
  return pdaDeregisterEventSource(hEventLog);
}
inline HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath) {
  return pdaSHGetFolderPathA(hwnd, csidl, hToken, dwFlags, pszPath);
}
inline UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return pdaGetSystemDirectoryA(lpBuffer, uSize);
}
inline UINT GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
  return pdaGetSystemWow64DirectoryA(lpBuffer, uSize);
}
inline HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCSTR lpName) {
  return pdaCreateMutexA(lpMutexAttributes, bInitialOwner, lpName);
}
inline DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return pdaWaitForSingleObject(hHandle, dwMilliseconds);
}
inline BOOL ReleaseMutex(HANDLE hMutex) {
  return pdaReleaseMutex(hMutex);
}
inline BOOL CloseHandle(HANDLE hObject) {
  return pdaCloseHandle(hObject);
}
inline void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pdaInitializeCriticalSection(lpCriticalSection);
}
inline void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pdaEnterCriticalSection(lpCriticalSection);
}
inline void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pdaLeaveCriticalSection(lpCriticalSection);
}
inline void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  pdaDeleteCriticalSection(lpCriticalSection);
}
inline DWORD GetCurrentProcessId() {
  return pdaGetCurrentProcessId();
}
inline void Sleep(DWORD dwMilliseconds) {
  pdaSleep(dwMilliseconds);
}
inline HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  return pdaLoadLibraryA(lpLibFileName);
}
inline FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  return pdaGetProcAddress(hModule, lpProcName);
}
inline BOOL FreeLibrary(HMODULE hLibModule) {
  return pdaFreeLibrary(hLibModule);
}

#endif

namespace pda {
namespace platform {

// Last-modification time of a file in seconds since 1970-01-01 UTC (the C
// runtime's 64-bit stat); 0 when the file does not exist or cannot be examined.
long long fileModificationTime(const char* path);

// Monotonic milliseconds, for measuring elapsed time in reports.
double monotonicMilliseconds();

// Whether path names a file without reference to the current directory: on
// POSIX it begins with '/'; on Windows it is "X:\..." or "X:/..." (a drive and
// its root) or a UNC path ("\\server\..."). "C:file" and "\\file" are relative to
// the current directory of a drive, so not absolute. Null and "" are not.
bool isAbsolutePath(const char* path) noexcept;

// Loads the library at an absolute path (isAbsolutePath) and nothing else: a
// relative path gives null with ERROR_INVALID_PARAMETER and loads nothing. On
// Windows the libraries it depends on are searched in its own directory and
// the system directory only, never in the current directory. Release with
// FreeLibrary.
HMODULE loadLibraryFromAbsolutePath(const char* path);

// An exclusive lock on the file at path (created when missing), held against
// every other holder, in this process or another: the call waits while one
// holds it. Returns null when the path is no regular file that can be
// created or opened, or cannot be locked. unlockFile (null is fine) releases
// it; the system releases it when the process ends, however it ends. (On
// POSIX a child forked while the lock is held shares it until the child ends
// or runs exec.)
void* lockFile(const char* path);
void unlockFile(void* lock) noexcept;
// The same lock, waited for while it changes hands: the wait ends (null)
// when the lock has stayed with one holder for milliseconds, as with a
// holder that was stopped, however long the line before it was. Holders
// count their turns in the lock file (bytes 8 to 15) for the waiters to see.
void* lockFileWithin(const char* path, unsigned milliseconds);

// Gives the file at from the name to, unless a file of that name exists: in
// one step, so no other process ever sees a name without its whole file.
// 0 when done (from is gone), 1 when to exists (from is left in place), -1
// on any other failure.
int publishFile(const char* from, const char* to);

// Functions the library runs when a program unloads it (FreeLibrary, dlclose
// of its last reference, or the end of the process on POSIX), most recently
// registered first. The layers above the platform register theirs (the SQLite
// store closes its connections) so that the entry point knows none of them.
// A hook must not throw. Safe for concurrent use by multiple threads; the
// hooks run on the thread that unloads the library, once.
void registerUnloadHook(void (*hook)());
void runUnloadHooks() noexcept;

#if !defined(_WIN32)
// The directory under which the emulated machine lives: $PDA_ROOT, or
// /var/lib/persisted-data-access when it is unset or empty. Read at every
// call, so a test that sets PDA_ROOT before its first call gets its own machine.
const char* machineRoot();
#endif

}  // namespace platform
}  // namespace pda

#pragma once

// The operating-system calls the library makes, and nothing else. On Windows
// this is the real Win32 API; on POSIX it is the stand-in in posix/, which
// emulates one Windows machine under the directory $PDA_ROOT (default
// /var/lib/persisted-data-access). Code outside src/platform/ includes this
// header (or the public pda/Platform.h) and never an operating-system header.

#include "pda/Platform.h"

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
HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName);
BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                  WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, void* lpRawData);
BOOL DeregisterEventSource(HANDLE hEventLog);

// Folders: <root>/ProgramData, <root>/System32, <root>/SysWOW64.
HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
UINT GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize);

// Synchronisation and process.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL ReleaseMutex(HANDLE hMutex);
BOOL CloseHandle(HANDLE hObject);
void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
DWORD GetCurrentProcessId(void);
void Sleep(DWORD dwMilliseconds);

// Dynamic libraries: dlopen, dlsym, dlclose.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

}  // extern "C"

#endif

namespace pda {
namespace platform {

// Last-modification time of a file in seconds since 1970-01-01 UTC (the C
// runtime's 64-bit stat); 0 when the file does not exist or cannot be examined.
long long fileModificationTime(const char* path);

// Monotonic milliseconds, for measuring elapsed time in reports.
double monotonicMilliseconds();

// An exclusive lock on the file at path (created when missing), held against
// every other holder, in this process or another: the call waits while one
// holds it. Returns null when the path is no regular file that can be
// created or opened, or cannot be locked. unlockFile (null is fine) releases
// it; the system releases it when the process ends, however it ends. (On
// POSIX a child forked while the lock is held shares it until the child ends
// or runs exec.)
void* lockFile(const char* path);
void unlockFile(void* lock) noexcept;
// The same lock, waited for at most milliseconds (0: taken only when free at
// once); null also when the wait ran out.
void* lockFileWithin(const char* path, unsigned milliseconds);

// Gives the file at from the name to, unless a file of that name exists: in
// one step, so no other process ever sees a name without its whole file.
// 0 when done (from is gone), 1 when to exists (from is left in place), -1
// on any other failure.
int publishFile(const char* from, const char* to);

#if !defined(_WIN32)
// The directory under which the emulated machine lives: $PDA_ROOT, or
// /var/lib/persisted-data-access when it is unset or empty. Read at every
// call, so a test that sets PDA_ROOT before its first call gets its own machine.
const char* machineRoot();
#endif

}  // namespace platform
}  // namespace pda

#pragma once

// The Win32 registry subset, for the programs that call it themselves: key
// handles, the registry calls, their rights, types and result codes, and the
// thread's last error. Opt-in: <PersistedDataAccess.h> does not include it on
// POSIX, so a program that only uses the records sees none of these names.
//
// On Windows this is <windows.h>. Elsewhere the library's stand-in, backed by
// files under $PDA_ROOT/registry, answers the same calls with the same values
// and results, so that code written against them runs unchanged on both. The
// library exports the stand-in only under pda-prefixed C names
// (pdaRegOpenKeyExA, ...), which cannot collide with another Win32 layer in
// the same process; the Win32 names below are inline forwarders to them,
// compiled into the program that includes this header.

#if defined(_WIN32)

#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>

#else

#  include <cstdint>

#  include "pda/Export.h"

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef LONG LSTATUS;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef unsigned int UINT;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef DWORD REGSAM;
typedef void* HANDLE;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef struct HKEY__* HKEY;  // also declared by pda/KestRegistry.h
typedef HKEY* PHKEY;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#  ifndef TRUE
#    define TRUE 1
#  endif
#  ifndef FALSE
#    define FALSE 0
#  endif

#  define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#  define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#  define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#  define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)

#  define ERROR_SUCCESS 0L
#  define ERROR_FILE_NOT_FOUND 2L
#  define ERROR_PATH_NOT_FOUND 3L
#  define ERROR_ACCESS_DENIED 5L
#  define ERROR_INVALID_HANDLE 6L
#  define ERROR_NOT_ENOUGH_MEMORY 8L
#  define ERROR_INVALID_PARAMETER 87L
#  define ERROR_CALL_NOT_IMPLEMENTED 120L
#  define ERROR_MOD_NOT_FOUND 126L
#  define ERROR_PROC_NOT_FOUND 127L
#  define ERROR_ALREADY_EXISTS 183L
#  define ERROR_MORE_DATA 234L
#  define ERROR_NO_MORE_ITEMS 259L
#  define ERROR_BADKEY 1010L
#  define ERROR_CANTOPEN 1011L
#  define ERROR_CANTREAD 1012L
#  define ERROR_CANTWRITE 1013L
#  define ERROR_KEY_DELETED 1018L

#  define REG_NONE 0u
#  define REG_SZ 1u
#  define REG_EXPAND_SZ 2u
#  define REG_BINARY 3u
#  define REG_DWORD 4u
#  define REG_DWORD_BIG_ENDIAN 5u
#  define REG_LINK 6u
#  define REG_MULTI_SZ 7u
#  define REG_QWORD 11u

#  define REG_OPTION_NON_VOLATILE 0x0u
#  define REG_CREATED_NEW_KEY 1u
#  define REG_OPENED_EXISTING_KEY 2u

#  define DELETE 0x00010000u
#  define READ_CONTROL 0x00020000u
#  define WRITE_DAC 0x00040000u
#  define WRITE_OWNER 0x00080000u
#  define SYNCHRONIZE 0x00100000u
#  define STANDARD_RIGHTS_READ READ_CONTROL
#  define STANDARD_RIGHTS_WRITE READ_CONTROL
#  define STANDARD_RIGHTS_ALL 0x001F0000u

#  define KEY_QUERY_VALUE 0x0001u
#  define KEY_SET_VALUE 0x0002u
#  define KEY_CREATE_SUB_KEY 0x0004u
#  define KEY_ENUMERATE_SUB_KEYS 0x0008u
#  define KEY_NOTIFY 0x0010u
#  define KEY_CREATE_LINK 0x0020u
#  define KEY_WOW64_64KEY 0x0100u
#  define KEY_WOW64_32KEY 0x0200u
#  define KEY_READ 0x20019u
#  define KEY_EXECUTE KEY_READ
#  define KEY_WRITE 0x20006u
#  define KEY_ALL_ACCESS 0xF003Fu

extern "C" {

PDA_API LONG pdaRegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
PDA_API LONG pdaRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                              PHKEY phkResult);
PDA_API LONG pdaRegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                DWORD dwOptions, REGSAM samDesired,
                                LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                LPDWORD lpdwDisposition);
PDA_API LONG pdaRegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                 LPBYTE lpData, LPDWORD lpcbData);
PDA_API LONG pdaRegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                 LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                 LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                 LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                 LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
PDA_API LONG pdaRegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                              LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                              PFILETIME lpftLastWriteTime);
PDA_API LONG pdaRegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                              LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
PDA_API LONG pdaRegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                               const BYTE* lpData, DWORD cbData);
PDA_API LONG pdaRegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
PDA_API LONG pdaRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
PDA_API LONG pdaRegCloseKey(HKEY hKey);

PDA_API DWORD pdaGetLastError(void);
PDA_API void pdaSetLastError(DWORD dwErrCode);

}  // extern "C"

inline LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return pdaRegOpenKeyA(hKey, lpSubKey, phkResult);
}
inline LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
  return pdaRegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}
inline LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  return pdaRegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                            lpSecurityAttributes, phkResult, lpdwDisposition);
}
inline LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  return pdaRegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}
inline LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
  return pdaRegQueryInfoKeyA(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
                             lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                             lpcbSecurityDescriptor, lpftLastWriteTime);
}
inline LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  return pdaRegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                          lpftLastWriteTime);
}
inline LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return pdaRegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                          lpcbData);
}
inline LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
  return pdaRegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}
inline LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return pdaRegDeleteValueA(hKey, lpValueName);
}
inline LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return pdaRegDeleteKeyA(hKey, lpSubKey);
}
inline LONG RegCloseKey(HKEY hKey) {
  return pdaRegCloseKey(hKey);
}
inline DWORD GetLastError() {
  return pdaGetLastError();
}
inline void SetLastError(DWORD dwErrCode) {
  pdaSetLastError(dwErrCode);
}

#endif

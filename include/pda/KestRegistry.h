#pragma once

#include <cstdint>
#include <string>

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestTypes.h"

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
// The registry key handle the helpers below take and return, the same type as
// on Windows. The calls, rights and codes that go with it are opt-in:
// pda/Win32.h.
typedef struct HKEY__* HKEY;
#endif

namespace pda {
// A registry status code (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...): Windows'
// LONG, 32 bits on every platform.
#if defined(_WIN32)
typedef LONG RegStatus;
#else
typedef std::int32_t RegStatus;
#endif
}  // namespace pda

// The registry store: each node stands for one key below
// HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel\Quillon\CurrentVersion (64-bit view);
// its values are the key's values as text, its children the key's subkeys.
//
// A node reads each of its maps from the registry while that map is empty and
// never refreshes a map that holds entries; reInitialize does nothing. Writes
// go to the registry first and, when that succeeds, into the node's map.
//
// Handles: a node owns its read and write handle and closes each one exactly
// once, in its destructor. A copy (constructor or assignment) opens handles of
// its own to the same keys with the same rights, so source and copy never
// share a handle; a handle that cannot be reopened stays null in the copy.
//
// Children are reference counted nodes (IKestBase): a child that a builder
// replaces in a child map is released, never leaked.
//
// Setters and deleteName return 1 on success and 0 when the registry refuses
// the write (no write handle, a null name, a missing value to delete); on 0
// the node's map is unchanged.
//
// Thread safety: none; one tree is used by one thread at a time. Other
// processes may change the same keys at any time.
class PDA_API KestRegistry : public IKestBase {
 public:
  // A new root for the given part of the data (1 to 6), or null for any other
  // type. The caller owns it (release with IKestBase::releaseNode).
  static KestRegistry* CreateInstance(KestBaseType type);

  // Helpers for other components of the suite; each returns the registry's
  // status code unchanged. A null result pointer gives ERROR_INVALID_PARAMETER.
  //
  // RegOpenKeyExA with the caller's access plus KEY_WOW64_64KEY; options are
  // not passed on (0 is used).
  static pda::RegStatus VtlRegOpenKeyEx(HKEY hKey, const char* subKey, unsigned long options,
                                        unsigned long access, HKEY* result);
  // RegOpenKeyExA with KEY_ALL_ACCESS | KEY_WOW64_64KEY (0xF013F).
  static pda::RegStatus VtlRegOpenKey(HKEY hKey, const char* subKey, HKEY* result);
  // RegOpenKeyExA with KEY_READ | KEY_WOW64_32KEY (0x20219): read-only, 32-bit view.
  static pda::RegStatus VtlRegOpenKey32(HKEY hKey, const char* subKey, HKEY* result);
  // RegCreateKeyExA with access 0xF013F, non-volatile, default security.
  static pda::RegStatus VtlRegCreateKey(HKEY hKey, const char* subKey, HKEY* result);
  // RegDeleteKeyA in the calling process's own view.
  static pda::RegStatus VtlRegDeleteKey(HKEY hKey, const char* subKey);

  KestRegistry(const KestRegistry& other);
  KestRegistry& operator=(const KestRegistry& other);
  ~KestRegistry() override;

  void reInitialize() override;
  void initializeSubKeyMap() override;
  void initializeNameValueMap() override;
  int setValueBool(const char* name, int value) override;
  int setValueInt32(const char* name, int value) override;
  int setValueString(const char* name, const char* const value) override;
  int deleteName(const char* name) override;

  const char* keyName() const noexcept { return _keyName.c_str(); }

 private:
  KestRegistry(IKestBase* parent, const char* name, bool openKeys);

  IKestBase* getNewIKestBase(IKestBase* parent, const char* name);
  void initializeRegKeys(HKEY hive, const char* path, bool openKeys);
  int getSubKeyCount();
  void getSubKeyName(int index, char* buffer, unsigned int size);
  const char* getRecordType(const char* name);
  void initializeRootSubKeyMap();
  void initializeVisaDevSubKeyMap(IKestBase* intf);
  void initializeAliasSubKeyMap();
  void closeKeys() noexcept;
  void copyKeysFrom(const KestRegistry& other);

  HKEY _hReadKey;
  HKEY _hWriteKey;
  std::string _keyName;
};

#pragma once

#include "pda/Export.h"
#include "pda/IKestBase.h"
#include "pda/KestTypes.h"
#include "pda/Platform.h"

// The registry store: each node stands for one key below
// HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel\Quillon\CurrentVersion (64-bit view);
// its values are the key's values as text, its children the key's subkeys.
class PDA_API KestRegistry : public IKestBase {
 public:
  // A new root for the given part of the data (1 to 6), or null for any other
  // type. The caller owns it.
  static KestRegistry* CreateInstance(KestBaseType type);

  // Helpers for other components of the suite; each returns the registry's
  // status code unchanged.
  static LONG VtlRegOpenKeyEx(HKEY hKey, const char* subKey, unsigned long options,
                              unsigned long access, HKEY* result);
  static LONG VtlRegOpenKey(HKEY hKey, const char* subKey, HKEY* result);
  static LONG VtlRegOpenKey32(HKEY hKey, const char* subKey, HKEY* result);
  static LONG VtlRegCreateKey(HKEY hKey, const char* subKey, HKEY* result);
  static LONG VtlRegDeleteKey(HKEY hKey, const char* subKey);

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
  friend struct ::PdaTestAccess;
  friend class KestRecord;
  KestRegistry(IKestBase* parent, const char* name, bool openKeys);

  IKestBase* getNewIKestBase(IKestBase* parent, const char* name);
  void initializeRegKeys(HKEY hive, const char* path, bool openKeys);
  int getSubKeyCount();
  void getSubKeyName(int index, char* buffer, unsigned int size);
  const char* getRecordType(const char* name);
  void initializeRootSubKeyMap();
  void initializeVisaDevSubKeyMap(IKestBase* intf);
  void initializeAliasSubKeyMap();

  HKEY _hReadKey;
  HKEY _hWriteKey;
  std::string _keyName;
};

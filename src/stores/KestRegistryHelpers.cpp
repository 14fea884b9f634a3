// Static key helpers for other components of the suite. Each passes the
// registry's status code back unchanged.
#include "pda/KestRegistry.h"
#include "stores/KestRegistryKeys.h"

using namespace pda::registry;

pda::RegStatus KestRegistry::VtlRegOpenKeyEx(HKEY hKey, const char* subKey,
                                             unsigned long /*options*/, unsigned long access,
                                             HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  // The caller's options are not passed on; the view is always the 64-bit one.
  return RegOpenKeyExA(hKey, subKey, 0, static_cast<REGSAM>(access) | KEY_WOW64_64KEY, result);
}

pda::RegStatus KestRegistry::VtlRegOpenKey(HKEY hKey, const char* subKey, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  return RegOpenKeyExA(hKey, subKey, 0, kWriteAccess, result);
}

pda::RegStatus KestRegistry::VtlRegOpenKey32(HKEY hKey, const char* subKey, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  return RegOpenKeyExA(hKey, subKey, 0, kRead32Access, result);
}

pda::RegStatus KestRegistry::VtlRegCreateKey(HKEY hKey, const char* subKey, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  return RegCreateKeyExA(hKey, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                         result, nullptr);
}

// No view flag: the key is deleted in the calling process's own view.
pda::RegStatus KestRegistry::VtlRegDeleteKey(HKEY hKey, const char* subKey) {
  return RegDeleteKeyA(hKey, subKey);
}

// Resolving and listing VISA and Brix aliases. The suite's configuration
// tools write the aliases; here a few VISA aliases are put into the registry
// first with the registry calls the library provides on every platform.
#include <PersistedDataAccess.h>
#include <pda/Win32.h>

#include <cstdio>
#include <cstring>

namespace {
bool storeVisaAlias(const char* alias, const char* address) {
  HKEY key = nullptr;
  if (KestRegistry::VtlRegCreateKey(HKEY_LOCAL_MACHINE,
                                    "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion\\VisaDevices",
                                    &key) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result = RegSetValueExA(key, alias, 0, REG_SZ, reinterpret_cast<const BYTE*>(address),
                                     static_cast<DWORD>(std::strlen(address) + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}
}  // namespace

int main() {
  if (!storeVisaAlias("scope", "TCPIP0::192.0.2.10::inst0::INSTR") ||
      !storeVisaAlias("DMM", "GPIB0::22::INSTR") || !storeVisaAlias("psu", "")) {
    std::fprintf(stderr, "cannot write the registry\n");
    return 1;
  }

  KestAliases aliases(RegistryDataSource);
  char address[256];

  // An alias resolves to its address, letter case ignored: result 1.
  int found = aliases.unaliasVisaAddress("SCOPE", address, sizeof address);
  std::printf("SCOPE -> %s (%d)\n", address, found);

  // Anything else passes through unchanged with result 0, so the buffer can
  // always be opened as an address: a name that is not an alias, an alias
  // with an empty address, or an address that does not fit the buffer.
  found = aliases.unaliasVisaAddress("GPIB0::5::INSTR", address, sizeof address);
  std::printf("GPIB0::5::INSTR -> %s (%d)\n", address, found);
  found = aliases.unaliasVisaAddress("psu", address, sizeof address);
  std::printf("psu -> %s (%d)\n", address, found);
  char small[8];
  found = aliases.unaliasVisaAddress("dmm", small, sizeof small);
  std::printf("dmm in 8 bytes -> %s (%d)\n", small, found);

  // Listing by position, in alphabetical order without regard to case, until
  // the result is 0.
  char alias[64];
  for (int index = 0;
       aliases.getVisaAliasByIndex(index, alias, sizeof alias, address, sizeof address); ++index) {
    std::printf("VISA alias %d: %s = %s\n", index, alias, address);
  }
  std::printf("Brix aliases: %d\n",
              aliases.getBrixAliasByIndex(0, alias, sizeof alias, address, sizeof address));
  return 0;
}

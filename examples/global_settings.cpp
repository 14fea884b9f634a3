// The suite-wide settings: read them from the store the process chooses,
// change them in the registry, and read the built-in defaults.
#include <PersistedDataAccess.h>

#include <cstdio>

int main() {
  // Without a data source the record takes the process-wide default store:
  // the built-in defaults on a machine where the suite is not installed.
  KestInfo settings;
  std::printf("store: %s\n", settings.getDataSourceString());
  std::printf("InstallLevel: %d\n", settings.getInstallLevel());
  std::printf("product version: %s\n", settings.getProductVersionString());

  // Text values are copied into the caller's buffer; a text that does not fit
  // leaves the buffer empty rather than cut short.
  char level[16];
  settings.getDmcLoggingLevel(level, sizeof level);
  std::printf("DmcLoggingLevel: %s\n", level);
  char tiny[2];
  settings.getDmcLoggingLevel(tiny, sizeof tiny);
  std::printf("DmcLoggingLevel in 2 bytes: \"%s\"\n", tiny);

  // Writes go through to the record's store; setters return 0 on failure.
  KestInfo registry(RegistryDataSource);
  if (!registry.setHiddenMode(1) || !registry.setWaitForIOReadyMilliseconds(30000)) {
    std::fprintf(stderr, "cannot write the registry\n");
    return 1;
  }
  // A new record reads the store again and sees the change.
  KestInfo reread(RegistryDataSource);
  std::printf("IOControlHidden: %d\n", reread.getHiddenMode());
  std::printf("WaitForIOReadyMilliseconds: %d\n", reread.getWaitForIOReadyMilliseconds());
  // A value that is not stored reads as the getter's default.
  std::printf("NkoStartupTimeoutMilliseconds: %d\n",
              reread.getNkoServerStartupTimeoutMilliseconds());

  // The generic accessors reach any value by name, letter case ignored.
  std::printf("ioControlHIDDEN: %d\n", reread.getValueBool("ioControlHIDDEN", 0));
  return 0;
}

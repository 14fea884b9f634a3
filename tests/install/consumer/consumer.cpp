// A program built against an installed PersistedDataAccess, once through the
// CMake package and once through pkg-config. It checks that the headers and
// the library it runs with belong together and work on a fresh emulated
// machine. Usage: consumer <directory the library must be loaded from>
// Exit status 0 when every check held; every failed check prints one line.

#include <PersistedDataAccess.h>
#include <pda/Win32.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "consumer: FAILED: %s\n", what.c_str());
    ++failures;
  }
}

std::string realPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The file this process mapped the library from.
std::string loadedLibrary() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    const std::size_t slash = line.find('/');
    if (slash != std::string::npos && line.find("libPersistedDataAccess.so") != std::string::npos) {
      return line.substr(slash);
    }
  }
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer <library directory>\n");
    return 2;
  }

  // The library in use is the installed one, not a copy in the build tree.
  const std::string loaded = loadedLibrary();
  const std::string expectedDir = realPath(argv[1]);
  const std::string loadedDir = realPath(loaded.substr(0, loaded.rfind('/')));
  check(!expectedDir.empty() && loadedDir == expectedDir,
        "library loaded from '" + loaded + "', expected below '" + argv[1] + "'");

  // The headers' version is the library's version.
  KestInfo defaults(DeviceIoDataSource);
  char version[64];
  defaults.getCurrentVersion(version, sizeof version);
  check(std::strcmp(version, PDA_VERSION_STRING) == 0,
        std::string("library version '") + version + "', headers say '" PDA_VERSION_STRING "'");

  // A machine without the suite: the built-in defaults are the default store.
  check(KestRecord::getGlobalDefaultDataSource() == DeviceIoDataSource,
        std::string("default store ") +
            KestRecord::getDataSourceString(KestRecord::getGlobalDefaultDataSource()));
  KestInfo settings;
  check(settings.getInstallLevel() == 256, "built-in InstallLevel is not 256");

  // A registry write through one record is seen by the next.
  HKEY key = nullptr;
  check(
      KestRegistry::VtlRegCreateKey(
          HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion", &key) == ERROR_SUCCESS,
      "cannot create the suite's settings key");
  if (key) RegCloseKey(key);
  {
    KestInfo writer(RegistryDataSource);
    check(writer.setWaitForIOReadyMilliseconds(4321) != 0, "registry write refused");
  }
  KestInfo reader(RegistryDataSource);
  check(reader.getWaitForIOReadyMilliseconds() == 4321, "registry value not read back");

  if (failures) return 1;
  std::printf("consumer: PersistedDataAccess %s from %s: ok\n", version, loaded.c_str());
  return 0;
}

#include <cstdio>

#include <PersistedDataAccess.h>

int main() {
  std::printf("PersistedDataAccess %s\n", PDA_VERSION_STRING);
  std::printf("base directory:  %s\n", DirUtilities::getBaseDir());
  std::printf("data directory:  %s\n", DirUtilities::getSharedDataDir());
  std::printf("PXI directory:   %s\n", DirUtilities::getPxiDataDir());
  return 0;
}

// Bad input to the registry store: values files with garbage in them, one
// that cannot be read, a writer's leftover temporary file, names and values
// of 1,024 characters and more, key names past their limit, and a machine
// root deeper than 260 characters. Each gives the documented result, and
// nothing that was stored is thrown away.

#include <gtest/gtest.h>

#include <string>

#include "Machine.h"
#include "pda/KestInfo.h"
#include "platform/platform.h"

struct RegistryBadInput : WithMachine {};

// Built only on POSIX up to the limits below: these are tests of the
// file-backed registry of the stand-in for the Win32 calls (its values files
// and its machine root).

#if !defined(_WIN32)

#  include <sys/stat.h>

#  include <cstdlib>
#  include <fstream>
#  include <iterator>

#  include "platform/posix/ValuesFile.h"

using pda::platform::RegValue;
using pda::platform::ValuesReadResult;

namespace {

std::string keyDir(const pdatest::TempMachine& machine) {
  return machine.path("registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion");
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names in the key's values file, in their order; "<garbage>" or
// "<missing>" when there is no whole file.
std::string namesInFile(const std::string& dir) {
  std::vector<RegValue> values;
  switch (pda::platform::readValuesFile(dir + "/.values", &values)) {
    case ValuesReadResult::ok:
      break;
    case ValuesReadResult::missing:
      return "<missing>";
    case ValuesReadResult::garbage:
      return "<garbage>";
    case ValuesReadResult::failed:
      return "<failed>";
  }
  std::string out;
  for (const RegValue& v : values) out += v.name + ";";
  return out;
}

}  // namespace

// A writer's leftover temporary file changes nothing. A values file that
// cannot be read at all (a folder in its place) is not garbage to be replaced:
// writes fail and it stays as it is. (A garbage file: PlatformBadInput.)
TEST_F(RegistryBadInput, BadValuesFiles) {
  machine.installSuite();
  {
    KestInfo first(RegistryDataSource);
    ASSERT_EQ(first.setValueInt32("InstallLevel", 3), 1);
  }
  const std::string dir = keyDir(machine);
  writeFile(dir + "/.values.tmp", "PDAVALUES 1\nhalf a file");
  {
    KestInfo info(RegistryDataSource);
    EXPECT_EQ(info.getInstallLevel(), 3);
    EXPECT_EQ(info.setHiddenMode(1), 1);
    EXPECT_EQ(namesInFile(dir), "InstallLevel;IOControlHidden;");
  }
  ASSERT_EQ(std::remove((dir + "/.values").c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/.values").c_str(), 0755), 0);
  writeFile(dir + "/.values/keep", "kept");
  KestInfo info(RegistryDataSource);
  EXPECT_EQ(info.getInstallLevel(), 256);
  EXPECT_EQ(info.setHiddenMode(1), 0);
  EXPECT_EQ(readFile(dir + "/.values/keep"), "kept");
}

// A root beyond 260 characters: the registry keeps working, the shell names no data folder.
TEST_F(RegistryBadInput, MachineRootBeyond260Characters) {
  std::string deep = machine.root();
  while (deep.size() < 400) deep += "/a-rather-deep-folder";
  ASSERT_EQ(pdatest::run("mkdir -p '" + deep + "'"), 0);
  ::setenv("PDA_ROOT", deep.c_str(), 1);
  {
    KestInfo info(RegistryDataSource);
    EXPECT_EQ(info.setValueInt32("InstallLevel", 7), 1);
  }
  KestInfo fresh(RegistryDataSource);
  EXPECT_EQ(fresh.getInstallLevel(), 7);
  EXPECT_EQ(namesInFile(deep + "/registry/HKLM/SOFTWARE/Vantrel/Quillon/CurrentVersion"),
            "InstallLevel;");
  char folder[MAX_PATH + 1] = "unchanged";
  EXPECT_NE(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder),
            S_OK);
  EXPECT_STREQ(folder, "");
}

#endif  // !_WIN32

// These run on Windows and in the stand-in alike.

// A value beyond the store's 1,024-byte read buffers is stored whole (reading
// stops at it: values_test).
TEST_F(RegistryBadInput, ValuesOf1024CharactersAndMoreAreStoredWhole) {
  machine.installSuite();
  const std::string longValue(2000, 'v');
  EXPECT_EQ(KestInfo(RegistryDataSource).setValueString("LongValue", longValue.c_str()), 1);
  std::string bytes;
  ASSERT_TRUE(pdatest::regGet(regtest::kBase, "LongValue", nullptr, &bytes));
  EXPECT_EQ(bytes, longValue + std::string(1, '\0'));
}

// The key helpers refuse a call without a place for the handle.
TEST_F(RegistryBadInput, HelpersWithoutAPlaceForTheHandle) {
  EXPECT_EQ(KestRegistry::VtlRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE", nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KestRegistry::VtlRegOpenKey32(HKEY_LOCAL_MACHINE, "SOFTWARE", nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KestRegistry::VtlRegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KestRegistry::VtlRegCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", nullptr),
            ERROR_INVALID_PARAMETER);
}

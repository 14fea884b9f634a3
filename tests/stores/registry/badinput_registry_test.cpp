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

// A writer's leftover temporary file changes nothing. A values file that is
// not one reads as a key without values (every getter gives its default); the
// next write replaces it by a whole file that holds what was written. A values
// file that cannot be read at all (a folder in its place) is not garbage to be
// replaced: writes fail and it stays as it is.
TEST_F(RegistryBadInput, BadValuesFiles) {
  machine.installSuite();
  {
    KestInfo first(RegistryDataSource);
    ASSERT_EQ(first.setValueInt32("InstallLevel", 3), 1);
  }
  const std::string dir = keyDir(machine);
  const std::string whole = readFile(dir + "/.values");
  ASSERT_EQ(namesInFile(dir), "InstallLevel;");
  writeFile(dir + "/.values.tmp", "PDAVALUES 1\nhalf a file");
  {
    KestInfo info(RegistryDataSource);
    EXPECT_EQ(info.getInstallLevel(), 3);
    EXPECT_EQ(info.setHiddenMode(1), 1);
    EXPECT_EQ(namesInFile(dir), "InstallLevel;IOControlHidden;");
  }
  // Which files are garbage is ValuesFile_test's; here a cut one.
  writeFile(dir + "/.values", whole.substr(0, whole.size() - 5));
  {
    KestInfo info(RegistryDataSource);
    EXPECT_EQ(info.getInstallLevel(), 256);
    EXPECT_EQ(info.setHiddenMode(1), 1);
    EXPECT_EQ(namesInFile(dir), "IOControlHidden;");
  }
  ASSERT_EQ(std::remove((dir + "/.values").c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/.values").c_str(), 0755), 0);
  writeFile(dir + "/.values/keep", "kept");
  KestInfo info(RegistryDataSource);
  EXPECT_EQ(info.getInstallLevel(), 256);
  EXPECT_EQ(info.setHiddenMode(1), 0);
  EXPECT_EQ(readFile(dir + "/.values/keep"), "kept");
}

// A machine whose root is deeper than 260 characters: the registry keeps
// working (its paths are not held in 260-byte buffers), while the shell
// refuses to name a data folder that long.
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

// The registry's limits, the same on Windows and in the stand-in: these
// tests run on both. The names of each key sort in the order they are
// created, so the value after a long one comes after it whether the registry
// enumerates values in creation order (Windows) or by name (Wine).

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

// A value name beyond the registry's limit of 16,383 characters is refused:
// the setter returns 0 and the key keeps what it held.
TEST_F(RegistryBadInput, ValueNameBeyondTheRegistryLimit) {
  machine.installSuite();
  KestInfo info(RegistryDataSource);
  ASSERT_EQ(info.setValueInt32("InstallLevel", 3), 1);
  EXPECT_EQ(info.setValueString(std::string(16384, 'N').c_str(), "x"), 0);
  EXPECT_EQ(info.setValueString(std::string(16383, 'N').c_str(), "x"), 1);
  EXPECT_TRUE(pdatest::regGet(regtest::kBase, "InstallLevel", nullptr, nullptr));
  EXPECT_TRUE(pdatest::regGet(regtest::kBase, std::string(16383, 'N'), nullptr, nullptr));
  EXPECT_FALSE(pdatest::regGet(regtest::kBase, std::string(16384, 'N'), nullptr, nullptr));
}

// Key names: 255 characters is the limit, as Windows documents it. The keys
// are made below an open key: Wine's ANSI registry calls refuse a whole path
// of more than 260 characters before they look at its names. Wine takes a
// name of 256 characters, so that refusal is checked in the stand-in only.
TEST_F(RegistryBadInput, KeyNamesBeyondTheirLimit) {
  HKEY parent = nullptr;
  ASSERT_EQ(KestRegistry::VtlRegCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel", &parent),
            ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(KestRegistry::VtlRegCreateKey(parent, std::string(255, 'k').c_str(), &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
#if !defined(_WIN32)
  key = nullptr;
  EXPECT_EQ(KestRegistry::VtlRegCreateKey(parent, std::string(256, 'k').c_str(), &key),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key, nullptr);
#endif
  RegCloseKey(parent);
  // Helpers without a place for the handle refuse the call.
  EXPECT_EQ(KestRegistry::VtlRegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE", nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KestRegistry::VtlRegOpenKey32(HKEY_LOCAL_MACHINE, "SOFTWARE", nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KestRegistry::VtlRegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KestRegistry::VtlRegCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", nullptr),
            ERROR_INVALID_PARAMETER);
}

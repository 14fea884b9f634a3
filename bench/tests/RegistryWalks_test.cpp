// The emulated registry's shortcuts that the configuration tree relies on for
// its speed: a value written again as it is leaves its file alone, and a walk
// over a key's values or subkeys reads the key once. Neither may hide a
// change: these tests check what each shortcut answers around changes made
// by this process and by another one.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BenchData.h"
#include "platform/platform.h"

namespace pdabench {
namespace {

const REGSAM kAll = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

HKEY create(const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            kAll, nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << path;
  return key;
}

LONG set(HKEY key, const char* name, DWORD type, const std::string& data) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

// The name at index of the key's values, or the error as text.
std::string valueAt(HKEY key, DWORD index) {
  char name[256];
  DWORD size = sizeof name;
  const LONG rc = RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? std::string(name) : "error " + std::to_string(rc);
}

std::string subKeyAt(HKEY key, DWORD index) {
  char name[256];
  DWORD size = sizeof name;
  const LONG rc = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? std::string(name) : "error " + std::to_string(rc);
}

const std::string kNoMore = "error " + std::to_string(ERROR_NO_MORE_ITEMS);
const std::string kDeleted = "error " + std::to_string(ERROR_KEY_DELETED);

// Runs op on the key at path (made when missing) in a child process: a change
// made by another process; true when it succeeded.
template <typename Op>
bool inChild(const char* path, Op op) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    HKEY key = nullptr;
    ::_exit(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kAll,
                            nullptr, &key, nullptr) == ERROR_SUCCESS &&
                    op(key) == ERROR_SUCCESS
                ? 0
                : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

struct FileState {
  ino_t ino = 0;
  long long mtimeNs = 0;
};

FileState stateOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {st.st_ino, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000ll + st.st_mtim.tv_nsec};
}

TEST(RegistryShortcuts, AValueWrittenAgainAsItIsLeavesTheFileAloneAndAnyChangeIsWritten) {
  Machine machine(PDA_SQLITE_LIBRARY);
  HKEY key = create("SOFTWARE\\Same");
  const std::string file = machine.root() + "/registry/HKLM/SOFTWARE/Same/.values";
  ASSERT_EQ(set(key, "Flag", REG_SZ, std::string("True", 5)), ERROR_SUCCESS);
  const FileState written = stateOf(file);

  EXPECT_EQ(set(key, "Flag", REG_SZ, std::string("True", 5)), ERROR_SUCCESS);
  EXPECT_EQ(set(key, "FLAG", REG_SZ, std::string("True", 5)), ERROR_SUCCESS) << "names ignore case";
  FileState now = stateOf(file);
  EXPECT_EQ(now.ino, written.ino) << "not replaced";
  EXPECT_EQ(now.mtimeNs, written.mtimeNs);
  EXPECT_EQ(valueAt(key, 0), "Flag") << "the first spelling stays";

  // The same bytes under another type, and other bytes, are changes.
  ASSERT_EQ(set(key, "Flag", REG_EXPAND_SZ, std::string("True", 5)), ERROR_SUCCESS);
  now = stateOf(file);
  EXPECT_NE(now.ino, written.ino);
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Flag", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  ASSERT_EQ(set(key, "Flag", REG_EXPAND_SZ, std::string("True")), ERROR_SUCCESS)
      << "without its NUL";
  EXPECT_NE(stateOf(file).ino, now.ino);
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Flag", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);

  // A key that may not be written is refused, even for a value it holds.
  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Same", 0, KEY_READ, &readOnly),
            ERROR_SUCCESS);
  EXPECT_EQ(set(readOnly, "Flag", REG_EXPAND_SZ, std::string("True")), ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
  RegCloseKey(key);
}

TEST(RegistryShortcuts, AValueWalkSeesEveryChangeThisProcessMakesDuringIt) {
  Machine machine(PDA_SQLITE_LIBRARY);
  HKEY walker = create("SOFTWARE\\Walk");
  HKEY writer = create("SOFTWARE\\Walk");
  for (const char* name : {"A", "B", "C"})
    ASSERT_EQ(set(writer, name, REG_SZ, name), ERROR_SUCCESS);

  EXPECT_EQ(valueAt(walker, 0), "A");
  ASSERT_EQ(RegDeleteValueA(writer, "B"), ERROR_SUCCESS);
  EXPECT_EQ(valueAt(walker, 1), "C") << "read again after the delete";
  ASSERT_EQ(set(writer, "D", REG_SZ, "d"), ERROR_SUCCESS);
  EXPECT_EQ(valueAt(walker, 2), "D");
  EXPECT_EQ(valueAt(walker, 3), kNoMore);
  RegCloseKey(writer);
  RegCloseKey(walker);
}

TEST(RegistryShortcuts, AValueWalkAnswersFromItsFirstReadingUntilItStartsAgain) {
  Machine machine(PDA_SQLITE_LIBRARY);
  HKEY key = create("SOFTWARE\\Snapshot");
  for (const char* name : {"A", "B"}) ASSERT_EQ(set(key, name, REG_SZ, name), ERROR_SUCCESS);

  EXPECT_EQ(valueAt(key, 0), "A");
  EXPECT_EQ(valueAt(key, 1), "B");
  ASSERT_TRUE(
      inChild("SOFTWARE\\Snapshot", [](HKEY other) { return set(other, "Z", REG_SZ, "z"); }));
  EXPECT_EQ(valueAt(key, 2), kNoMore) << "the walk goes on with what it read at index 0";
  EXPECT_EQ(valueAt(key, 0), "A") << "a new walk reads the key again";
  EXPECT_EQ(valueAt(key, 2), "Z") << "an index out of turn reads the key again";

  ASSERT_TRUE(
      inChild("SOFTWARE\\Snapshot", [](HKEY other) { return RegDeleteValueA(other, "A"); }));
  EXPECT_EQ(valueAt(key, 1), "Z") << "out of turn (3 was next): read again, without A";
  HKEY second = create("SOFTWARE\\Snapshot");
  EXPECT_EQ(valueAt(second, 0), "B") << "each handle walks on its own";
  RegCloseKey(second);
  RegCloseKey(key);
}

TEST(RegistryShortcuts, ASubkeyWalkSeesKeysThisProcessCreatesAndDeletes) {
  Machine machine(PDA_SQLITE_LIBRARY);
  for (const char* name : {"K1", "K2", "K3"})
    RegCloseKey(create(std::string("SOFTWARE\\Parent\\") + name));
  HKEY parent = create("SOFTWARE\\Parent");

  EXPECT_EQ(subKeyAt(parent, 0), "K1");
  RegCloseKey(create("SOFTWARE\\Parent\\K0"));
  EXPECT_EQ(subKeyAt(parent, 1), "K1") << "K0 now comes first";
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent\\K3"), ERROR_SUCCESS);
  EXPECT_EQ(subKeyAt(parent, 2), "K2");
  EXPECT_EQ(subKeyAt(parent, 3), kNoMore);

  ASSERT_TRUE(inChild("SOFTWARE\\Parent\\K9", [](HKEY) { return LONG{ERROR_SUCCESS}; }));
  EXPECT_EQ(subKeyAt(parent, 4), kNoMore) << "made by another process during the walk";
  EXPECT_EQ(subKeyAt(parent, 0), "K0");
  EXPECT_EQ(subKeyAt(parent, 3), "K9");
  RegCloseKey(parent);
}

TEST(RegistryShortcuts, AWalkOverAKeyDeletedByThisProcessAnswersKeyDeleted) {
  Machine machine(PDA_SQLITE_LIBRARY);
  HKEY key = create("SOFTWARE\\Gone\\Leaf");
  for (const char* name : {"A", "B"}) ASSERT_EQ(set(key, name, REG_SZ, name), ERROR_SUCCESS);
  HKEY parent = create("SOFTWARE\\Gone");
  EXPECT_EQ(valueAt(key, 0), "A");
  EXPECT_EQ(subKeyAt(parent, 0), "Leaf");
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(valueAt(key, 1), kDeleted);
  EXPECT_EQ(subKeyAt(parent, 1), kNoMore);
  EXPECT_EQ(subKeyAt(parent, 0), kNoMore);

  // A key of the same name made again is a new key: an old handle does not
  // reach it, a handle opened now does.
  HKEY made = create("SOFTWARE\\Gone\\Leaf");
  RegCloseKey(made);
  HKEY reopened = create("SOFTWARE\\Gone\\Leaf");
  EXPECT_EQ(set(reopened, "New", REG_SZ, "n"), ERROR_SUCCESS);
  EXPECT_EQ(valueAt(reopened, 0), "New");
  EXPECT_EQ(valueAt(key, 0), kDeleted);
  RegCloseKey(reopened);
  RegCloseKey(parent);
  RegCloseKey(key);
}

}  // namespace
}  // namespace pdabench

// Bad input to the platform stand-in: the registry calls over a values file
// full of garbage, with buffers of 0 and 1 bytes and null arguments; and the
// file lock that orders the SQLite store's writers: it excludes other
// processes and other holders in this one, is dropped when its holder dies,
// and refuses paths it cannot use.

// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"

#  include "platform/posix/ValuesFile.h"

namespace {

const char kKey[] = "SOFTWARE\\Garbage";

HKEY openKey(REGSAM access) {
  HKEY key = nullptr;
  EXPECT_EQ(
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, access, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  return key;
}

}  // namespace

// Over a values file that is garbage the key has no values: queries find
// nothing, enumeration ends at once, the key's counts are zero; a write
// makes a whole file again.
TEST(PlatformBadInput, RegistryCallsOverAGarbageValuesFile) {
  pdatest::TempMachine machine;
  HKEY key = openKey(KEY_ALL_ACCESS);
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(key, "Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  const std::string file = machine.path("registry/HKLM/SOFTWARE/Garbage/.values");
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      << "garbage\x01\x02\x03 that is no values file";

  DWORD type = 0, size = 4;
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(key, "Value", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
  char name[16];
  DWORD nameLength = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  DWORD values = 99;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(RegDeleteValueA(key, "Value"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegSetValueExA(key, "Again", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  std::vector<pda::platform::RegValue> parsed;
  ASSERT_EQ(pda::platform::readValuesFile(file, &parsed), pda::platform::ValuesReadResult::ok);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0].name, "Again");
  RegCloseKey(key);
}

// Buffers of 0 and 1 bytes get ERROR_MORE_DATA and the size needed, and
// nothing is written past them; handles that are none are refused. (Null
// arguments are covered in Registry_test.cpp.)
TEST(PlatformBadInput, RegistryBuffersOfZeroAndOneByteAndHandlesThatAreNone) {
  pdatest::TempMachine machine;
  HKEY key = openKey(KEY_ALL_ACCESS);
  ASSERT_EQ(RegSetValueExA(key, "A", 0, REG_SZ, reinterpret_cast<const BYTE*>("xyz"), 4),
            ERROR_SUCCESS);

  BYTE data[4] = {'#', '#', '#', '#'};
  for (DWORD room : {0u, 1u}) {
    DWORD size = room;
    EXPECT_EQ(RegQueryValueExA(key, "A", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[room], '#');
  }

  // A one-character name needs two characters of buffer.
  char name[2] = {'#', '#'};
  DWORD nameLength = 1;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(name[1], '#');
  nameLength = 2;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "A");

  EXPECT_EQ(
      RegQueryValueExA(reinterpret_cast<HKEY>(0x1234), "A", nullptr, nullptr, nullptr, nullptr),
      ERROR_INVALID_HANDLE);
  RegCloseKey(key);
  EXPECT_EQ(RegQueryValueExA(key, "A", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

// A holder in another process keeps the lock until it lets go. (The other
// process is forked before the lock is taken: a child forked while it is
// held would share it.)
TEST(PlatformBadInput, FileLockExcludesAnotherProcess) {
  pdatest::TempMachine machine;
  const std::string path = machine.path("db-lock");
  int fds[2], go[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    char start = 0;
    if (::read(go[0], &start, 1) != 1) ::_exit(2);
    void* mine = pda::platform::lockFile(path.c_str());
    const char answer = mine ? 'y' : 'n';
    (void)!::write(fds[1], &answer, 1);
    pda::platform::unlockFile(mine);
    ::_exit(0);
  }
  void* held = pda::platform::lockFile(path.c_str());
  ASSERT_NE(held, nullptr);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  EXPECT_FALSE(pdatest::readable(fds[0], 300)) << "the other process took a lock that is held";
  pda::platform::unlockFile(held);
  ASSERT_TRUE(pdatest::readable(fds[0], 10000)) << "the other process never got the lock";
  char answer = 0;
  ASSERT_EQ(::read(fds[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'y');
  pdatest::exitStatus(pid);
  for (int fd : {fds[0], fds[1], go[0], go[1]}) ::close(fd);
}

// Two holders in one process exclude each other as well.
TEST(PlatformBadInput, FileLockExcludesAnotherHolderOfTheSameProcess) {
  pdatest::TempMachine machine;
  const std::string path = machine.path("db-lock");
  void* held = pda::platform::lockFile(path.c_str());
  ASSERT_NE(held, nullptr);
  std::atomic<bool> got{false};
  std::thread other([&] {
    void* mine = pda::platform::lockFile(path.c_str());
    got = mine != nullptr;
    pda::platform::unlockFile(mine);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(got.load());
  pda::platform::unlockFile(held);
  other.join();
  EXPECT_TRUE(got.load());
}

// A holder killed with SIGKILL leaves no lock behind.
TEST(PlatformBadInput, FileLockOfAKilledHolderIsReleased) {
  pdatest::TempMachine machine;
  const std::string path = machine.path("db-lock");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    void* mine = pda::platform::lockFile(path.c_str());
    const char answer = mine ? 'y' : 'n';
    (void)!::write(fds[1], &answer, 1);
    ::pause();
    ::_exit(0);
  }
  char answer = 0;
  ASSERT_TRUE(pdatest::readable(fds[0], 10000));
  ASSERT_EQ(::read(fds[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  ::kill(pid, SIGKILL);
  pdatest::exitStatus(pid);
  const auto start = std::chrono::steady_clock::now();
  void* held = pda::platform::lockFile(path.c_str());
  EXPECT_NE(held, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  pda::platform::unlockFile(held);
  ::close(fds[0]);
  ::close(fds[1]);
}

// Paths the lock cannot use give null; null is a lock that unlocks to
// nothing. A lock file this process may only read is still a lock.
TEST(PlatformBadInput, FileLockRefusesUnusablePaths) {
  pdatest::TempMachine machine;
  EXPECT_EQ(pda::platform::lockFile(nullptr), nullptr);
  EXPECT_EQ(pda::platform::lockFile(""), nullptr);
  EXPECT_EQ(pda::platform::lockFile(machine.path("no/such/folder/db-lock").c_str()), nullptr);
  EXPECT_EQ(pda::platform::lockFile(machine.root().c_str()), nullptr) << "a folder is no lock file";
  EXPECT_EQ(pda::platform::lockFile("/dev/null"), nullptr) << "a device is no lock file";
  pda::platform::unlockFile(nullptr);

  const std::string path = machine.path("read-only-lock");
  std::ofstream(path) << "";
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ::chmod(machine.root().c_str(), 0755);
  EXPECT_EQ(pdatest::inChild([&] {
              if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
              ::_exit(pda::platform::lockFile(path.c_str()) ? 0 : 1);
            }),
            0)
      << "a read-only lock file gave no lock";
}

#endif  // !_WIN32

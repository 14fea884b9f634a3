// Bad input to the platform stand-in: the file lock that orders the SQLite
// store's writers excludes other processes and other holders in this one, is
// dropped when its holder dies, and refuses paths it cannot use; the registry
// over a values file that is garbage.

// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"
#  include "platform/posix/ValuesFile.h"

// A values file that is garbage reads as a key without values, and the next
// write replaces it by a whole file.
TEST(PlatformBadInput, RegistryCallsOverAGarbageValuesFile) {
  pdatest::TempMachine machine;
  pdatest::Key key;
  ASSERT_EQ(pdatest::createKey("SOFTWARE\\Garbage", pdatest::kAll, &key), ERROR_SUCCESS);
  ASSERT_EQ(pdatest::setRaw(key.get(), "Value", REG_DWORD, "1234"), ERROR_SUCCESS);
  const std::string file = machine.path("registry/HKLM/SOFTWARE/Garbage/.values");
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "garbage\x01 that is no values file";
  EXPECT_EQ(pdatest::queryNothing(key.get(), "Value"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(pdatest::valueNames(key.get()).empty());
  DWORD values = 99;
  EXPECT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(RegDeleteValueA(key.get(), "Value"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(pdatest::setRaw(key.get(), "Again", REG_DWORD, "1234"), ERROR_SUCCESS);
  std::vector<pda::platform::RegValue> parsed;
  ASSERT_EQ(pda::platform::readValuesFile(file, &parsed), pda::platform::ValuesReadResult::ok);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0].name, "Again");
}

// A holder in another process keeps the lock until it is killed (SIGKILL),
// which leaves no lock behind.
TEST(PlatformBadInput, FileLockExcludesAnotherProcessUntilItIsKilled) {
  pdatest::TempMachine machine;
  const std::string path = machine.path("db-lock");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const char answer = pda::platform::lockFile(path.c_str()) ? 'y' : 'n';
    (void)!::write(fds[1], &answer, 1);
    ::pause();
    ::_exit(0);
  }
  char answer = 0;
  ASSERT_TRUE(pdatest::readable(fds[0], 10000));
  ASSERT_EQ(::read(fds[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    void* held = pda::platform::lockFile(path.c_str());
    got = held != nullptr;
    pda::platform::unlockFile(held);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(got.load()) << "took a lock that another process holds";
  ::kill(pid, SIGKILL);
  pdatest::exitStatus(pid);
  waiter.join();
  EXPECT_TRUE(got.load());
  ::close(fds[0]);
  ::close(fds[1]);
}

// Two holders in one process exclude each other as well; unusable paths.
TEST(PlatformBadInput, FileLockInOneProcessAndUnusablePaths) {
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

  // Paths the lock cannot use give null; a lock file this process may only read is a lock.
  EXPECT_EQ(pda::platform::lockFile(nullptr), nullptr);
  EXPECT_EQ(pda::platform::lockFile(""), nullptr);
  EXPECT_EQ(pda::platform::lockFile(machine.path("no/such/folder/db-lock").c_str()), nullptr);
  EXPECT_EQ(pda::platform::lockFile(machine.root().c_str()), nullptr) << "a folder is no lock file";
  EXPECT_EQ(pda::platform::lockFile("/dev/null"), nullptr) << "a device is no lock file";
  pda::platform::unlockFile(nullptr);
  const std::string readOnly = machine.path("read-only-lock");
  std::ofstream(readOnly) << "";
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  ::chmod(machine.root().c_str(), 0755);
  EXPECT_EQ(pdatest::inChild([&] {
              if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
              ::_exit(pda::platform::lockFile(readOnly.c_str()) ? 0 : 1);
            }),
            0)
      << "a read-only lock file gave no lock";
}

#endif  // !_WIN32

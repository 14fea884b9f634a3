// Kernel calls: the thread's last error, named mutexes across threads,
// critical sections, folders of the emulated machine, file and time helpers.
// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"

// The last error is per thread and starts clean.
TEST(LastError, IsPerThread) {
  SetLastError(1234);
  DWORD seen = 99;
  std::thread([&] {
    seen = GetLastError();
    SetLastError(5678);
  }).join();
  EXPECT_EQ(seen, 0u) << "a new thread starts clean";
  EXPECT_EQ(GetLastError(), 1234u) << "another thread's error leaked in";
}

// A second create of a name opens the same mutex (without ownership); exact
// names, unnamed never shared; the name is free again after the last close.
TEST(NamedMutex, SecondCreateOpensTheSameObject) {
  SetLastError(77);
  HANDLE a = CreateMutexA(nullptr, FALSE, "Guard_PID_1");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE b = CreateMutexA(nullptr, TRUE, "Guard_PID_1");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(a, b);
  std::atomic<DWORD> other{0};
  std::thread([&] {
    other = WaitForSingleObject(a, 0);
    ReleaseMutex(a);
  }).join();
  EXPECT_EQ(other.load(), WAIT_OBJECT_0);

  HANDLE c = CreateMutexA(nullptr, FALSE, "guard_pid_1");
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE d = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE e = CreateMutexA(nullptr, FALSE, "");
  EXPECT_EQ(GetLastError(), 0u);
  ASSERT_EQ(WaitForSingleObject(a, INFINITE), WAIT_OBJECT_0);
  std::thread([&] { other = WaitForSingleObject(b, 50); }).join();
  EXPECT_EQ(other.load(), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(b));

  for (HANDLE h : {a, b, c, d, e}) EXPECT_TRUE(CloseHandle(h));
  HANDLE f = CreateMutexA(nullptr, FALSE, "Guard_PID_1");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(f);
}

// The creator owns it; ownership counts, only the owner releases, and an
// ended owner abandons it.
TEST(NamedMutex, OwnershipIsRecursiveAndOnlyTheOwnerReleases) {
  HANDLE m = CreateMutexA(nullptr, TRUE, "Recursive");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // owned three times now

  std::atomic<DWORD> wait{0};
  std::atomic<BOOL> released{TRUE};
  std::atomic<DWORD> error{0};
  std::thread([&] {
    released = ReleaseMutex(m);
    error = GetLastError();
    wait = WaitForSingleObject(m, 20);
  }).join();
  EXPECT_FALSE(released.load());
  EXPECT_EQ(error.load(), static_cast<DWORD>(ERROR_NOT_OWNER));
  EXPECT_EQ(wait.load(), WAIT_TIMEOUT);

  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  std::thread([&] { wait = WaitForSingleObject(m, 0); }).join();
  EXPECT_EQ(wait.load(), WAIT_TIMEOUT) << "freed one release too early";
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m)) << "released more often than taken";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  // Left owned by an ended thread, it is abandoned, then owned normally.
  std::thread([&] { ASSERT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0); }).join();
  EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  CloseHandle(m);
}

// Threads that open one name exclude each other through it.
TEST(NamedMutex, ExcludesThreadsAndWakesWaiters) {
  const int kThreads = 6, kRounds = 300;
  int counter = 0;  // guarded only by the mutex under test
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      HANDLE mine = CreateMutexA(nullptr, FALSE, "Counter");
      for (int r = 0; r < kRounds; ++r) {
        if (WaitForSingleObject(mine, INFINITE) != WAIT_OBJECT_0) return;
        int seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
        ReleaseMutex(mine);
      }
      CloseHandle(mine);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

// Made-up and closed handles fail with ERROR_INVALID_HANDLE; the failure switch.
TEST(NamedMutex, InvalidHandlesAndFailureHook) {
  int junk = 0;
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(&junk, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(&junk));
  HANDLE m = CreateMutexA(nullptr, FALSE, "Twice");
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_FALSE(CloseHandle(m)) << "closed twice";
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_FAILED);

  setenv("PDA_FAIL_CREATE_MUTEX", "1", 1);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "Denied"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A zero-filled section works without initialisation (its first use raced
// by threads); it is recursive and exclusive, and may be deleted twice.
TEST(CriticalSection, ZeroFilledRecursiveAndExclusive) {
  static CRITICAL_SECTION cs;  // never initialised, as static storage may be
  long total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        EnterCriticalSection(&cs);
        ++total;
        LeaveCriticalSection(&cs);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(total, 4000);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner enters again without blocking
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&cs);
    entered = true;
    LeaveCriticalSection(&cs);
  });
  LeaveCriticalSection(&cs);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load()) << "entered while still held once";
  LeaveCriticalSection(&cs);
  other.join();
  EXPECT_TRUE(entered.load());
  DeleteCriticalSection(&cs);
  EXPECT_EQ(cs.impl, nullptr);
  DeleteCriticalSection(&cs);  // a second delete finds nothing to free
}

// The common application data folder is below the root, other folders are
// refused (a root too long for it: DataDirs); the system folders' buffer sizes.
TEST(Folders, CommonAppDataAndSystemDirectories) {
  pdatest::TempMachine machine;
  char path[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path),
            S_OK);
  EXPECT_EQ(std::string(path), machine.path("ProgramData"));
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA | 0x8000, nullptr, 0, path), S_OK);
  struct stat st;
  EXPECT_NE(stat(path, &st), 0) << "asking for a folder does not make it";

  std::strcpy(path, "stale");
  EXPECT_EQ(SHGetFolderPathA(nullptr, 0x001a /* user's roaming data */, nullptr, 0, path),
            E_INVALIDARG);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);

  // The system folders answer their length, or the size needed when it does not fit.
  const std::string system = machine.path("System32");
  const std::string wow = machine.path("SysWOW64");
  const UINT n = static_cast<UINT>(system.size());

  std::vector<char> buf(n + 8, '#');
  EXPECT_EQ(GetSystemDirectoryA(buf.data(), n + 1), n) << "exactly enough room";
  EXPECT_EQ(std::string(buf.data()), system);
  EXPECT_EQ(buf[n + 1], '#');

  std::fill(buf.begin(), buf.end(), '#');
  EXPECT_EQ(GetSystemDirectoryA(buf.data(), n), n + 1) << "one short: the size needed";
  EXPECT_EQ(buf[0], '#') << "buffer touched although too small";

  SetLastError(0);
  ASSERT_EQ(GetSystemWow64DirectoryA(buf.data(), static_cast<UINT>(buf.size())),
            static_cast<UINT>(wow.size()));
  EXPECT_EQ(std::string(buf.data()), wow);
  EXPECT_EQ(GetLastError(), 0u);
}

// A file's modification time in seconds (0 when absent); the clock follows Sleep.
TEST(TimeAndFiles, ModificationTimeAndMonotonicClock) {
  pdatest::TempMachine machine;
  std::string file = machine.path("stamped");
  std::ofstream(file) << "x";
  struct timeval times[2] = {{1500000000, 0}, {1234567890, 500000}};
  ASSERT_EQ(utimes(file.c_str(), times), 0);
  EXPECT_EQ(pda::platform::fileModificationTime(file.c_str()), 1234567890LL);
  EXPECT_EQ(pda::platform::fileModificationTime(machine.path("absent").c_str()), 0);
  EXPECT_EQ(pda::platform::fileModificationTime(nullptr), 0);

  double before = pda::platform::monotonicMilliseconds();
  Sleep(30);
  double after = pda::platform::monotonicMilliseconds();
  EXPECT_GE(after - before, 29.0) << "Sleep returned early, or the clock is not in ms";
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

// A signal that the program handles interrupts the system's sleep; Sleep
// sleeps on for the rest of its time. (Only a lower bound is checked.)
TEST(TimeAndFiles, SleepLastsItsTimeThroughSignals) {
  struct sigaction handled {};
  handled.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGUSR1, &handled, nullptr), 0);
  std::atomic<bool> asleep{false};
  double slept = 0;
  std::thread sleeper([&] {
    asleep = true;
    const double before = pda::platform::monotonicMilliseconds();
    Sleep(300);
    slept = pda::platform::monotonicMilliseconds() - before;
  });
  while (!asleep) std::this_thread::yield();
  for (int i = 0; i < 5; ++i) {
    Sleep(20);
    pthread_kill(sleeper.native_handle(), SIGUSR1);
  }
  sleeper.join();
  EXPECT_GE(slept, 299.0);
}

#endif  // !_WIN32

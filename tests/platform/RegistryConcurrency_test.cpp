// Many writers of one key at once, in processes and in threads: nothing is
// lost, nobody reads half a file, and deleting keys under writers is safe.

// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"

using namespace pdatest;

// Processes creating one key in several letter cases at once make one key,
// and writing it they lose no value; the newest write of a name wins.
TEST(RegistryConcurrency, ProcessesCreatingAndWritingOneKeyLoseNothing) {
  TempMachine machine;
  const int kProcesses = 8, kWrites = 25;
  const char* spellings[] = {"SOFTWARE\\Racy\\Key", "software\\RACY\\key", "Software\\racy\\KEY",
                             "SOFTWARE\\RACY\\Key"};
  std::vector<int> statuses = runTogether(kProcesses, [&](int p) {
    Key mine;
    // A refused creation exits with 10 + its error code (15: access denied).
    const LONG rc = createKey(spellings[p % 4], kAll, &mine);
    if (rc != ERROR_SUCCESS) _exit(static_cast<int>(10 + rc % 200));
    for (int w = 0; w < kWrites; ++w) {
      std::string name = "P" + std::to_string(p) + "_" + std::to_string(w);
      if (setRaw(mine.get(), name.c_str(), REG_SZ, name) != 0) _exit(3);
      if (setRaw(mine.get(), ("Last" + std::to_string(p)).c_str(), REG_SZ, std::to_string(w)))
        _exit(4);
    }
  });
  EXPECT_EQ(statuses, std::vector<int>(kProcesses, 0));
  Key sw, racy, k;
  ASSERT_EQ(openKey("SOFTWARE", kRead, &sw), ERROR_SUCCESS);
  EXPECT_EQ(subKeyNames(sw.get()).size(), 1u);
  ASSERT_EQ(openKey("SOFTWARE\\Racy", kRead, &racy), ERROR_SUCCESS);
  EXPECT_EQ(subKeyNames(racy.get()).size(), 1u);
  ASSERT_EQ(openKey("SOFTWARE\\racy\\key", kRead, &k), ERROR_SUCCESS);
  EXPECT_EQ(valueNames(k.get()).size(), static_cast<std::size_t>(kProcesses * (kWrites + 1)));
  for (int p = 0; p < kProcesses; ++p)
    EXPECT_EQ(valueOf(k.get(), ("Last" + std::to_string(p)).c_str()), std::to_string(kWrites - 1));
}

// Threads writing one key, through one shared handle and their own, lose nothing.
TEST(RegistryConcurrency, ThreadsWritingDifferentValuesLoseNone) {
  TempMachine machine;
  const int kThreads = 8, kWrites = 20;
  Key shared = made("SOFTWARE\\Threads");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Half the threads share one handle, the others open their own.
      Key own;
      HKEY h = shared.get();
      if (t % 2) {
        if (openKey("SOFTWARE\\Threads", kAll, &own) != ERROR_SUCCESS) ++failures;
        h = own.get();
      }
      for (int w = 0; w < kWrites; ++w) {
        std::string name = "T" + std::to_string(t) + "_" + std::to_string(w);
        if (setRaw(h, name.c_str(), REG_DWORD, std::string(4, static_cast<char>(w))) !=
            ERROR_SUCCESS)
          ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(valueNames(shared.get()).size(), static_cast<std::size_t>(kThreads * kWrites));
}

// A reader never sees a value half written by another process.
TEST(RegistryConcurrency, ReadersNeverSeeAHalfWrittenKey) {
  TempMachine machine;
  Key k = made("SOFTWARE\\Torn");
  // Large enough that a file written in place would be read half done.
  const std::size_t kSize = 256 * 1024;
  ASSERT_EQ(setRaw(k.get(), "Data", REG_BINARY, std::string(kSize, 'A')), ERROR_SUCCESS);

  pid_t writer = fork();
  if (writer == 0) {
    for (int g = 1; g <= 40; ++g)
      if (setRaw(k.get(), "Data", REG_BINARY,
                 std::string(kSize, static_cast<char>('A' + g % 26))) != ERROR_SUCCESS)
        _exit(2);
    _exit(0);
  }
  ASSERT_GT(writer, 0);
  int reads = 0, status = 0;
  bool done = false;
  while (!done) {
    done = waitpid(writer, &status, WNOHANG) == writer;
    DWORD type;
    std::string bytes;
    ASSERT_EQ(queryRaw(k.get(), "Data", &type, &bytes), ERROR_SUCCESS) << "read " << reads;
    ASSERT_EQ(bytes.size(), kSize);
    ASSERT_EQ(bytes.find_first_not_of(bytes[0]), std::string::npos) << "two writes mixed";
    ++reads;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_GT(reads, 1);
}

// Deleting a key under writers fails no writer and leaves no half-deleted key.
TEST(RegistryConcurrency, DeletingKeysUnderWritersIsSafe) {
  TempMachine machine;
  made("SOFTWARE\\Churn");
  std::vector<int> statuses = runTogether(4, [&](int p) {
    for (int i = 0; i < 30; ++i) {
      if (p == 0) {
        Key k;
        LONG rc = createKey("SOFTWARE\\Churn\\Victim", kAll, &k);
        if (rc != ERROR_SUCCESS) _exit(2);
        rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Churn\\Victim");
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) _exit(3);
      } else {
        Key k;
        LONG rc = openKey("SOFTWARE\\Churn\\Victim", kAll, &k);
        if (rc == ERROR_FILE_NOT_FOUND) continue;
        if (rc != ERROR_SUCCESS) _exit(4);
        rc = setRaw(k.get(), "V", REG_SZ, std::to_string(p));
        // The key may vanish between the open and the write.
        if (rc != ERROR_SUCCESS && rc != ERROR_KEY_DELETED) _exit(5);
      }
    }
  });
  EXPECT_EQ(statuses, std::vector<int>(statuses.size(), 0));
  // No half-deleted key is left behind under any name.
  std::string out;
  run("ls -A '" + machine.path("registry/HKLM/SOFTWARE/Churn") + "'", &out);
  EXPECT_TRUE(out == ".lock\n" || out == ".lock\nVictim\n") << out;
}

#endif  // !_WIN32

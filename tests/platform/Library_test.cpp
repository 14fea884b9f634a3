// Dynamic libraries: the real SQLite library by path and under its Windows
// name, and the failures of missing files, symbols and handles.

// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"

// The real SQLite library by path and under its installed Windows name, its
// functions by name; no ordinals, no double free.
TEST(DynamicLibrary, LoadsSQLiteAndBindsItsFunctions) {
  HMODULE lib = LoadLibraryA(PDA_SQLITE_LIBRARY);
  ASSERT_NE(lib, nullptr) << PDA_SQLITE_LIBRARY;
  FARPROC proc = GetProcAddress(lib, "sqlite3_libversion_number");
  ASSERT_NE(proc, nullptr);
  int (*versionNumber)() = nullptr;
  std::memcpy(&versionNumber, &proc, sizeof proc);
  EXPECT_GE(versionNumber(), 3000000);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(lib, "sqlite3_no_such_function"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(lib, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(7))), nullptr)
      << "an ordinal";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  EXPECT_TRUE(FreeLibrary(lib));
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(lib)) << "freed once more than loaded";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetProcAddress(lib, "sqlite3_step"), nullptr);

  // The installed Windows name is the same library, counted twice.
  pdatest::TempMachine machine;
  machine.installSuite();
  std::string dll = machine.baseDir() + "bin/SQLite.Interop.dll";
  HMODULE a = LoadLibraryA(dll.c_str());
  ASSERT_NE(a, nullptr);
  HMODULE b = LoadLibraryA(PDA_SQLITE_LIBRARY);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a, b) << "one library, counted twice";
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetProcAddress(b, "sqlite3_step"), nullptr) << "still loaded once";
  EXPECT_TRUE(FreeLibrary(b));
}

// Missing and invalid files, null names and made-up handles fail with their codes.
TEST(DynamicLibrary, MissingOrInvalidFilesFail) {
  pdatest::TempMachine machine;
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA(machine.path("bin/SQLite.Interop.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  std::string text = machine.path("not-a-library.dll");
  std::ofstream(text) << "plain text";
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA(text.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  int junk = 0;
  EXPECT_EQ(GetProcAddress(&junk, "sqlite3_step"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FreeLibrary(&junk));
}

// The platform loader takes absolute paths only.
TEST(DynamicLibrary, OnlyAnAbsolutePathIsLoadedFromThePlatformLoader) {
  EXPECT_TRUE(pda::platform::isAbsolutePath("/usr/lib/libsqlite3.so.0"));
  const char* const relative[] = {"./bin/SQLite.Interop.dll", "bin/SQLite.Interop.dll", "",
                                  nullptr};
  for (const char* path : relative) {
    EXPECT_FALSE(pda::platform::isAbsolutePath(path)) << (path ? path : "(null)");
    SetLastError(0);
    EXPECT_EQ(pda::platform::loadLibraryFromAbsolutePath(path), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  HMODULE lib = pda::platform::loadLibraryFromAbsolutePath(PDA_SQLITE_LIBRARY);
  ASSERT_NE(lib, nullptr);
  EXPECT_TRUE(FreeLibrary(lib));
}

#endif  // !_WIN32

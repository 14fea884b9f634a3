// The Windows side of the platform layer, on the real Win32 calls: what the
// library writes is read back by clients that are not ours (reg.exe on the
// registry, the sqlite3 client on the database), the DLL's entry point
// releases SQLite when a program unloads the library, the version resource
// carries the product version, and the C runtime services behave at their
// edges. Built only for Windows: on POSIX the same behaviour is the stand-in's
// and has its own tests.

#if defined(_WIN32)

#  include <gtest/gtest.h>

#  include <cstring>
#  include <map>
#  include <string>
#  include <vector>

#  include "PersistedDataAccess.h"
#  include "pda/Version.h"
#  include "platform/platform.h"
#  include "support/Fixtures.h"

namespace {

const char* const kSettingsKey = "SOFTWARE\\Vantrel\\Quillon\\CurrentVersion";

// The folder of this test program; the build puts PersistedDataAccess.dll one
// level above it.
std::string programDir() {
  char path[MAX_PATH + 1] = {0};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/"));
}

std::string libraryPath() {
  const std::string dir = programDir();
  return dir.substr(0, dir.find_last_of("\\/")) + "\\PersistedDataAccess.dll";
}

bool fileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Sets a file's last-write time, given in seconds since 1970 (UTC).
bool setModificationTime(const std::string& path, long long seconds) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const unsigned long long ticks =
      (static_cast<unsigned long long>(seconds) + 11644473600ULL) * 10000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  return ok != FALSE;
}

}  // namespace

// --- what the library wrote, read by clients that are not ours -------------

TEST(Win32ExternalClients, RegistryWriteIsSeenByRegQuery) {
  pdatest::TempMachine machine;
  {
    KestInfo info(RegistryDataSource);
    ASSERT_NE(0, info.setNkoServerStartupTimeoutMilliseconds(123457));
  }
  unsigned int type = 0;
  std::string bytes;
  ASSERT_TRUE(pdatest::regGet(kSettingsKey, "NkoStartupTimeoutMilliseconds", &type, &bytes));
  // reg.exe of the system (Wine's under Wine), in the 64-bit view.
  std::string out;
  int rc = pdatest::run(std::string("reg query \"HKLM\\") + kSettingsKey +
                            "\" /v NkoStartupTimeoutMilliseconds /reg:64",
                        &out);
  ASSERT_EQ(0, rc) << out;
  EXPECT_NE(std::string::npos, out.find("NkoStartupTimeoutMilliseconds")) << out;
  if (type == REG_DWORD)
    EXPECT_NE(std::string::npos, out.find("0x1e241")) << out;
  else
    EXPECT_NE(std::string::npos, out.find("123457")) << out;
}

TEST(Win32ExternalClients, DatabaseWriteIsSeenBySqliteClient) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  {
    KestInfo info(SQLiteDataSource);
    ASSERT_NE(0, info.setNkoServerStartupTimeoutMilliseconds(98765));
    ASSERT_NE(0, info.setDmcLoggingLevel("Caf\xe9 'quoted' level"));
  }
  EXPECT_EQ("98765\n", pdatest::sqlite(db,
                                       "SELECT VALUE FROM KestInfo WHERE "
                                       "NAME='NkoStartupTimeoutMilliseconds';"));
  // The text went through the Windows code page into the file unchanged.
  std::string level =
      pdatest::sqlite(db, "SELECT hex(VALUE) FROM KestInfo WHERE NAME='DmcLoggingLevel';");
  EXPECT_EQ("436166E9202771756F74656427206C6576656C\n", level);
}

// --- processes writing at once ---------------------------------------------

// Several pda tool processes set one setting each in the same configuration
// database at the same moment: the Windows SQLite's file locks make them
// wait for one another, the store retries a busy step, and every value is
// kept.
TEST(Win32Processes, SettingsWrittenByProcessesAtOnceAreAllKept) {
  const std::string tool = pdatest::windowsPathOfHost(PDA_TOOL_PATH);
  if (std::string(PDA_TOOL_PATH).empty() || !fileExists(tool))
    GTEST_SKIP() << "the pda tool was not built beside the tests";
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  // Name and value of each process's setting, in the order SQL sorts names.
  std::map<std::string, std::string> written;
  int value = 1000;
  for (const char* setting : {"NkoStartupTimeoutMilliseconds", "WaitForIOReadyMilliseconds",
                              "IoControlStartupTimeoutMilliseconds", "AutoStartIOServer",
                              "VisaPxiImplementation", "Gpib32Status"})
    written[setting] = std::to_string(value++);

  std::vector<PROCESS_INFORMATION> processes;
  for (const auto& setting : written) {
    std::string line =
        "\"" + tool + "\" set " + setting.first + " " + setting.second + " --source sqlite";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << line << " (error " << GetLastError() << ")";
    CloseHandle(process.hThread);
    processes.push_back(process);
  }
  for (const PROCESS_INFORMATION& process : processes) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000));
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process.hProcess);
  }

  std::string expected, names;
  for (const auto& setting : written) {
    expected += setting.first + "|" + setting.second + "\n";
    names += (names.empty() ? "'" : ",'") + setting.first + "'";
  }
  EXPECT_EQ(expected, pdatest::sqlite(db, "SELECT NAME, VALUE FROM KestInfo WHERE NAME IN (" +
                                              names + ") ORDER BY NAME;"));
}

// --- the DLL's entry point --------------------------------------------------

// The library as a program sees it: loaded with LoadLibrary, its store made
// through the exported factory (looked up by its mangled name, since this
// program has the same classes linked in statically), used through the
// virtual interface, and unloaded again.
class Win32LibraryUnload : public ::testing::Test {
 protected:
  typedef KestSQLite* (*CreateInstance)(KestBaseType);

  void SetUp() override {
    if (!fileExists(libraryPath())) GTEST_SKIP() << "no " << libraryPath() << " beside the tests";
  }
};

TEST_F(Win32LibraryUnload, FreeLibraryClosesConnectionsAndReleasesSQLite) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string db = machine.createConfigDatabase();
  pdatest::sqlite(db, "INSERT INTO KestInfo(NAME, VALUE) VALUES('InstallLevel', '5');");
  const std::string sqliteDll = machine.baseDir() + "bin\\SQLite.Interop.dll";

  HMODULE library = LoadLibraryA(libraryPath().c_str());
  ASSERT_NE(nullptr, library) << "error " << GetLastError();
  auto create = reinterpret_cast<CreateInstance>(reinterpret_cast<void*>(
      GetProcAddress(library, "_ZN10KestSQLite14CreateInstanceE12KestBaseType")));
  ASSERT_NE(nullptr, create);
  IKestBase* node = create(KestInfoBaseType);
  ASSERT_NE(nullptr, node);
  EXPECT_EQ(5, node->getValueInt32("InstallLevel", 256));
  delete node;  // through the DLL's own destructor; the connection stays open

  // The read-only connection is open: SQLite shares the file for reading and
  // writing only, so it cannot be deleted.
  ASSERT_NE(nullptr, GetModuleHandleA(sqliteDll.c_str()));
  EXPECT_FALSE(DeleteFileA(db.c_str()));

  ASSERT_TRUE(FreeLibrary(library));
  EXPECT_EQ(nullptr, GetModuleHandleA(sqliteDll.c_str()))
      << "SQLite.Interop.dll is still loaded after the library was unloaded";
  EXPECT_TRUE(DeleteFileA(db.c_str())) << "the database stayed open, error " << GetLastError();
}

TEST_F(Win32LibraryUnload, UnloadWithoutAnyReadDoesNothing) {
  pdatest::TempMachine machine;
  machine.installSuite();
  const std::string sqliteDll = machine.baseDir() + "bin\\SQLite.Interop.dll";
  for (int round = 0; round < 2; ++round) {
    HMODULE library = LoadLibraryA(libraryPath().c_str());
    ASSERT_NE(nullptr, library) << "error " << GetLastError();
    EXPECT_EQ(nullptr, GetModuleHandleA(sqliteDll.c_str()));
    ASSERT_TRUE(FreeLibrary(library));
  }
  EXPECT_EQ(nullptr, GetModuleHandleA(sqliteDll.c_str()));
}

// --- the version resource ---------------------------------------------------

TEST(Win32VersionResource, ProductVersionIsTheFourPartVersion) {
  if (!fileExists(libraryPath())) GTEST_SKIP() << "no " << libraryPath() << " beside the tests";
  // version.dll is loaded here rather than linked, so the test programs need
  // nothing beyond what the library itself links.
  HMODULE version = LoadLibraryA("version.dll");
  ASSERT_NE(nullptr, version);
  typedef DWORD(WINAPI * SizeFn)(LPCSTR, LPDWORD);
  typedef BOOL(WINAPI * InfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
  typedef BOOL(WINAPI * QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  auto size = reinterpret_cast<SizeFn>(
      reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoSizeA")));
  auto info = reinterpret_cast<InfoFn>(
      reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoA")));
  auto query =
      reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(version, "VerQueryValueA")));
  ASSERT_TRUE(size && info && query);

  const std::string path = libraryPath();
  DWORD handle = 0;
  DWORD bytes = size(path.c_str(), &handle);
  ASSERT_GT(bytes, 0u) << "no version resource, error " << GetLastError();
  std::vector<char> block(bytes);
  ASSERT_TRUE(info(path.c_str(), 0, bytes, block.data()));

  void* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query(block.data(), "\\StringFileInfo\\040904B0\\ProductVersion", &text, &length));
  EXPECT_STREQ(PDA_VERSION_STRING, static_cast<const char*>(text));

  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(query(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
  EXPECT_EQ(static_cast<DWORD>(PDA_VERSION_MAJOR << 16 | PDA_VERSION_MINOR),
            fixed->dwProductVersionMS);
  EXPECT_EQ(static_cast<DWORD>(PDA_VERSION_PATCH << 16 | PDA_VERSION_TWEAK),
            fixed->dwProductVersionLS);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
  FreeLibrary(version);
}

// --- C runtime services -----------------------------------------------------

TEST(Win32FileModificationTime, AnswersTheLastWriteTimeInSecondsOrZero) {
  pdatest::TempMachine machine;
  const std::string file = machine.path("stamp.txt");
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  ASSERT_TRUE(setModificationTime(file, 981158400));  // 2001-02-03 00:00:00 UTC
  EXPECT_EQ(981158400, pda::platform::fileModificationTime(file.c_str()));
  // Past 2038, where a 32-bit time would wrap.
  ASSERT_TRUE(setModificationTime(file, 4102444800LL));  // 2100-01-01
  EXPECT_EQ(4102444800LL, pda::platform::fileModificationTime(file.c_str()));
  // Missing or null paths answer zero.
  EXPECT_EQ(0, pda::platform::fileModificationTime(machine.path("absent.db").c_str()));
  EXPECT_EQ(0, pda::platform::fileModificationTime(nullptr));
}

// The clock follows Sleep, in milliseconds.
TEST(Win32MonotonicClock, FollowsSleep) {
  const double start = pda::platform::monotonicMilliseconds();
  Sleep(50);
  const double afterSleep = pda::platform::monotonicMilliseconds();
  EXPECT_GE(afterSleep - start, 40.0);
  EXPECT_LT(afterSleep - start, 60000.0);
}

TEST(Win32LibraryPath, OnlyADriveRootOrAUncPathIsAbsolute) {
  const struct {
    const char* path;
    bool absolute;
  } cases[] = {{"C:\\suite\\bin\\SQLite.Interop.dll", true},
               {"c:/suite/SQLite.Interop.dll", true},
               {"\\\\server\\share\\SQLite.Interop.dll", true},
               {"C:SQLite.Interop.dll", false},         // the current directory of drive C
               {"\\suite\\SQLite.Interop.dll", false},  // the root of the current drive
               {"\\\\", false},
               {nullptr, false}};
  for (const auto& c : cases)
    EXPECT_EQ(pda::platform::isAbsolutePath(c.path), c.absolute) << (c.path ? c.path : "(null)");
  SetLastError(0);
  EXPECT_EQ(pda::platform::loadLibraryFromAbsolutePath("kernel32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

#endif  // _WIN32

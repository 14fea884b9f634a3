// The file-backed registry through its Win32 calls: values and their limits,
// keys and their names, enumeration, rights, views and handles.
// POSIX only: on Windows the real calls are covered by Win32_test.cpp.

#if !defined(_WIN32)

#  include "PlatformTestUtil.h"

using namespace pdatest;

// Types and bytes (NULs, high bytes, no terminator) survive a write and a
// fresh read. The default value is the empty name; too long names and a null
// buffer with a length are refused.
TEST(RegistryValues, ExactBytesDefaultValueAndBadArguments) {
  TempMachine machine;
  Key k = made("SOFTWARE\\Default"), r;
  const std::string binary("\x80\0\xff\0\x01", 5);
  ASSERT_EQ(setRaw(k.get(), "Binary", 0xDEADBEEFu, binary), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k.get(), "SzNoTerminator", REG_SZ, "abc"), ERROR_SUCCESS);
  ASSERT_EQ(openKey("SOFTWARE\\Default", kRead, &r), ERROR_SUCCESS);
  DWORD type = 0;
  std::string bytes;
  ASSERT_EQ(queryRaw(r.get(), "Binary", &type, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, 0xDEADBEEFu);
  EXPECT_EQ(bytes, binary);
  EXPECT_EQ(valueOf(r.get(), "SzNoTerminator"), "abc");
  for (const char* n : {"Binary", "SzNoTerminator"}) ASSERT_EQ(RegDeleteValueA(k.get(), n), 0);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(k.get(), nullptr, nullptr, nullptr, nullptr, &size),
            2);  // not found
  ASSERT_EQ(setRaw(k.get(), nullptr, REG_SZ, std::string("d\0", 2)), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(k.get(), ""), std::string("d\0", 2));
  EXPECT_EQ(valueNames(k.get()), std::vector<std::string>{""});
  ASSERT_EQ(RegDeleteValueA(k.get(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(k.get(), "", nullptr, nullptr, nullptr, &size),
            2);  // not found
  EXPECT_EQ(RegSetValueExA(k.get(), "x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(k.get(), "x", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  std::string tooLong(16384, 'v'), longest(16383, 'v');
  EXPECT_EQ(setRaw(k.get(), tooLong.c_str(), REG_SZ, "x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(setRaw(k.get(), longest.c_str(), REG_SZ, "x"), ERROR_SUCCESS);
  EXPECT_EQ(valueNames(k.get()), (std::vector<std::string>{"x", longest}));
}

// One byte short gets ERROR_MORE_DATA and the size (queryRaw checks the exact
// fit); bad argument combinations.
TEST(RegistryValues, QueryAndEnumerationHonourTheirBuffers) {
  TempMachine machine;
  Key k = made("SOFTWARE\\Sizes");
  ASSERT_EQ(setRaw(k.get(), "F", REG_BINARY, std::string(1024, 'a')), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k.get(), "T", REG_BINARY, std::string(1025, 'b')), ERROR_SUCCESS);
  std::vector<BYTE> buf(1024, 0);
  DWORD type = 0, size = 1024;
  EXPECT_EQ(RegQueryValueExA(k.get(), "T", nullptr, &type, buf.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 1025u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(RegQueryValueExA(k.get(), "F", nullptr, nullptr, buf.data(), nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(k.get(), "F", &reserved, nullptr, nullptr, &size),
            ERROR_INVALID_PARAMETER);
  // A one-character name needs two characters of buffer.
  char name[4] = {'#', '#', '#', '#'};
  DWORD nameSize = 1, dataSize = 1024;
  EXPECT_EQ(RegEnumValueA(k.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(name[1], '#');
  nameSize = 2;
  EXPECT_EQ(RegEnumValueA(k.get(), 1, name, &nameSize, nullptr, &type, buf.data(), &dataSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 1025u);
  nameSize = 2;
  ASSERT_EQ(RegEnumValueA(k.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(nameSize, 1u) << "characters without the terminator";
  EXPECT_STREQ(name, "F");
  EXPECT_EQ(RegEnumValueA(k.get(), 2, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueA(k.get(), 0, nullptr, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

// Overwriting keeps the first spelling and place; a deleted value comes back
// last.
TEST(RegistryValues, OverwriteKeepsFirstSpellingAndPlace) {
  TempMachine machine;
  Key k = made("SOFTWARE\\Order");
  for (const char* n : {"Zeta", "alpha", "Mid"})
    ASSERT_EQ(setRaw(k.get(), n, REG_SZ, n), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k.get(), "ALPHA", REG_DWORD, std::string("\x07\0\0\0", 4)), ERROR_SUCCESS);
  EXPECT_EQ(valueNames(k.get()), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(valueOf(k.get(), "Alpha"), std::string("\x07\0\0\0", 4));
  ASSERT_EQ(RegDeleteValueA(k.get(), "zeta"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(k.get(), "zeta"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(setRaw(k.get(), "zeta", REG_SZ, "z"), ERROR_SUCCESS);
  EXPECT_EQ(valueNames(k.get()), (std::vector<std::string>{"alpha", "Mid", "zeta"}));
}

// Names are found without case and keep their first spelling; any character
// but a backslash makes a name; intermediate keys are made, and a read handle
// opens existing subkeys but creates none; length and syntax limits.
TEST(RegistryKeys, NamesCaseCreationAndLimits) {
  TempMachine machine;
  Key a, b, sw, parent, c;
  DWORD disposition = 0;
  ASSERT_EQ(createKey("SOFTWARE\\MixedCase\\Inner\\Leaf", kAll, &a, &disposition), 0);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(createKey("software\\MIXEDCASE\\inner", kRead, &b, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  ASSERT_EQ(setRaw(a.get(), "V", REG_SZ, "shared"), ERROR_SUCCESS);
  EXPECT_EQ(createKey("LEAF", kAll, &c, &disposition, b.get()), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(c.get(), "v"), "shared");
  EXPECT_EQ(createKey("Deeper", kAll, &c, &disposition, b.get()), ERROR_ACCESS_DENIED);
  ASSERT_EQ(openKey("SOFTWARE", kRead, &sw), ERROR_SUCCESS);
  EXPECT_EQ(subKeyNames(sw.get()), std::vector<std::string>{"MixedCase"});
  const std::vector<std::string> odd = {"a/b", "100%", ".", "..", "%2F", "sp ace"};
  ASSERT_EQ(createKey("SOFTWARE\\Odd", kAll, &parent), ERROR_SUCCESS);
  for (const std::string& n : odd) {
    ASSERT_EQ(createKey(n, kAll, &c, nullptr, parent.get()), ERROR_SUCCESS) << n;
    ASSERT_EQ(setRaw(c.get(), "Name", REG_SZ, n), ERROR_SUCCESS);
  }
  std::vector<std::string> listed = subKeyNames(parent.get());
  EXPECT_EQ(std::multiset<std::string>(listed.begin(), listed.end()),
            std::multiset<std::string>(odd.begin(), odd.end()));
  for (const std::string& n : odd) {
    ASSERT_EQ(openKey(n, kRead, &c, parent.get()), ERROR_SUCCESS) << n;
    EXPECT_EQ(valueOf(c.get(), "Name"), n) << "two names landed in one key";
  }
  EXPECT_FALSE(isDir(hklm(machine, "SOFTWARE/Odd/a")));
  // Key names of 255 characters at most; leading, doubled separators are refused.
  Key k;
  std::string n255(255, 'k'), n256(256, 'k');
  EXPECT_EQ(createKey("SOFTWARE\\" + n255, kAll, &k), ERROR_SUCCESS);
  EXPECT_EQ(createKey("SOFTWARE\\" + n256, kAll, &k), ERROR_INVALID_PARAMETER);
  // A name that is valid but whose file name would be too long.
  EXPECT_EQ(createKey("SOFTWARE\\" + std::string(200, '/'), kAll, &k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createKey("\\SOFTWARE\\Lead", kAll, &k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createKey("SOFTWARE\\\\Double", kAll, &k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createKey("SOFTWARE\\Trail\\", kAll, &k), ERROR_SUCCESS);
  EXPECT_EQ(openKey("SOFTWARE\\Trail", kRead, &k), ERROR_SUCCESS);
  EXPECT_EQ(openKey("SOFTWARE\\Missing\\Deeper", kRead, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k.get(), nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, kRead, nullptr),
            ERROR_INVALID_PARAMETER);
}

// Subkeys enumerate in case-free byte order; the key's counts, maxima and time.
TEST(RegistryKeys, EnumerationOrderAndKeyInfo) {
  TempMachine machine;
  Key parent, k;
  ASSERT_EQ(createKey("SOFTWARE\\Enum", kAll, &parent), ERROR_SUCCESS);
  for (const char* n :
       {"delta", "Bravo", "alpha", "_under", "10", "9", "\xC3\xA9t\xC3\xA9", "alphabet", "ALPH"})
    ASSERT_EQ(createKey(n, kAll, &k, nullptr, parent.get()), ERROR_SUCCESS);
  EXPECT_EQ(subKeyNames(parent.get()),
            (std::vector<std::string>{"10", "9", "_under", "ALPH", "alpha", "alphabet", "Bravo",
                                      "delta", "\xC3\xA9t\xC3\xA9"}));
  ASSERT_EQ(setRaw(parent.get(), "Second", REG_BINARY, std::string(300, 'x')), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(parent.get(), "A", REG_SZ, "1"), ERROR_SUCCESS);
  char cls[8] = "junk";
  DWORD clsSize = sizeof cls, subKeys = 0, maxSub = 0, maxClass = 9, values = 0, maxName = 0,
        maxData = 0;
  FILETIME ft{};
  ASSERT_EQ(RegQueryInfoKeyA(parent.get(), cls, &clsSize, nullptr, &subKeys, &maxSub, &maxClass,
                             &values, &maxName, &maxData, nullptr, &ft),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(cls), "");
  EXPECT_EQ((std::vector<DWORD>{clsSize, subKeys, maxSub, values, maxName, maxData}),
            (std::vector<DWORD>{0, 9, 8, 2, 6, 300}));
  // It is the later of the key's folder and values file, to the 100 ns.
  const std::string dir = hklm(machine, "SOFTWARE/Enum");
  auto lastWrite = [&](long dirSec, long dirNsec, long fileSec, long fileNsec) {
    const timespec dirTimes[2] = {{dirSec, dirNsec}, {dirSec, dirNsec}};
    const timespec fileTimes[2] = {{fileSec, fileNsec}, {fileSec, fileNsec}};
    EXPECT_EQ(utimensat(AT_FDCWD, (dir + "/.values").c_str(), fileTimes, 0), 0);
    EXPECT_EQ(utimensat(AT_FDCWD, dir.c_str(), dirTimes, 0), 0);
    FILETIME t{};
    EXPECT_EQ(RegQueryInfoKeyA(parent.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, &t),
              ERROR_SUCCESS);
    return ((1ull * t.dwHighDateTime << 32) | t.dwLowDateTime) - 11644473600ull * 10000000ull;
  };
  EXPECT_EQ(lastWrite(1000, 100, 1000, 500), 10000000005ull) << "same second, later file";
  EXPECT_EQ(lastWrite(1001, 100, 1000, 500), 10010000001ull) << "later folder";
  EXPECT_EQ(lastWrite(1000, 900, 1000, 100), 10000000009ull) << "same second, later folder";
  // Past the end, and a name that does not fit ("Bravo" needs 6 with its NUL).
  char name[16];
  DWORD size = 4;
  EXPECT_EQ(RegEnumKeyExA(parent.get(), 9, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  size = 5;
  EXPECT_EQ(RegEnumKeyExA(parent.get(), 6, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  size = 6;
  EXPECT_EQ(RegEnumKeyExA(parent.get(), 6, name, &size, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(name, "Bravo");
}

// An empty or null subkey gives a new handle of its own; bad handles are
// refused.
TEST(RegistryKeys, EmptySubkeyDuplicatesTheHandle) {
  TempMachine machine;
  Key original = made("SOFTWARE\\Dup");
  HKEY viaEmpty = nullptr, viaNull = nullptr;
  ASSERT_EQ(RegOpenKeyExA(original.get(), "", 0, kAll, &viaEmpty), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(original.get(), nullptr, 0, kRead, &viaNull), ERROR_SUCCESS);
  EXPECT_NE(viaEmpty, original.get());
  RegCloseKey(original.release());
  ASSERT_EQ(setRaw(viaEmpty, "V", REG_SZ, "via copy"), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(viaNull, "V"), "via copy");
  EXPECT_EQ(setRaw(viaNull, "V", REG_SZ, "x"), ERROR_ACCESS_DENIED) << "copy has its own rights";
  for (HKEY h : {viaEmpty, viaNull}) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(viaEmpty), ERROR_INVALID_HANDLE);
  EXPECT_EQ(queryNothing(viaNull, "V"), ERROR_INVALID_HANDLE);
  int notAKey = 0;
  EXPECT_EQ(setRaw(reinterpret_cast<HKEY>(&notAKey), "V", REG_SZ, "x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

// A key with subkeys is not deleted; a deleted key's handles answer
// KEY_DELETED.
TEST(RegistryKeys, DeleteRefusesKeysWithSubkeysAndInvalidatesHandles) {
  TempMachine machine;
  Key leaf, again, del;
  ASSERT_EQ(createKey("SOFTWARE\\Del\\Leaf", kAll, &leaf), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(leaf.get(), "V", REG_SZ, "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del\\Nope"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED) << "the hive root";
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\del\\LEAF"), ERROR_SUCCESS);
  EXPECT_EQ(setRaw(leaf.get(), "V", REG_SZ, "v"), ERROR_KEY_DELETED);
  // A new key of the same name is not the deleted one.
  ASSERT_EQ(createKey("SOFTWARE\\Del\\Leaf", kAll, &again), ERROR_SUCCESS);
  EXPECT_EQ(queryNothing(leaf.get(), "V"), ERROR_KEY_DELETED);
  EXPECT_TRUE(valueNames(again.get()).empty());
  // Nothing but the parent's own files is left behind.
  ASSERT_EQ(RegDeleteKeyA(again.get(), ""), ERROR_SUCCESS);
  std::string out;
  run("ls -A " + hklm(machine, "SOFTWARE/Del"), &out);
  EXPECT_EQ(out, ".lock\n");
}

// Another process deletes a key and its parent and makes both anew under the
// same names: every old handle answers ERROR_KEY_DELETED, also where the
// stand-in looks at a key through its parent's directory, and new handles
// see the new keys.
TEST(RegistryHandles, KeysMadeAnewByAnotherProcessAreNotTheOldOnes) {
  TempMachine machine;
  Key made, parent, child, childWrite;
  ASSERT_EQ(createKey("SOFTWARE\\Renewed\\Parent\\Child", kAll, &made), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(made.get(), "V", REG_SZ, "old"), ERROR_SUCCESS);
  RegCloseKey(made.release());
  ASSERT_EQ(openKey("SOFTWARE\\Renewed\\Parent", kRead, &parent), ERROR_SUCCESS);
  ASSERT_EQ(openKey("child", kRead, &child, parent.get()), ERROR_SUCCESS) << "found without case";
  ASSERT_EQ(createKey("Child", kAll, &childWrite, nullptr, parent.get()), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(child.get(), "V"), "old");
  ASSERT_EQ(inChild([] {
              EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Renewed\\Parent\\Child"), 0);
              EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Renewed\\Parent"), 0);
              Key again;
              EXPECT_EQ(createKey("SOFTWARE\\Renewed\\Parent\\Child", kAll, &again), 0);
              EXPECT_EQ(setRaw(again.get(), "V", REG_SZ, "new"), 0);
            }),
            0);
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExA(parent.get(), "Child", 0, kRead, &h), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExA(parent.get(), "Child", 0, nullptr, 0, kAll, nullptr, &h, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExA(child.get(), "", 0, kRead, &h), ERROR_KEY_DELETED);
  EXPECT_EQ(queryNothing(child.get(), "V"), ERROR_KEY_DELETED);
  EXPECT_EQ(setRaw(childWrite.get(), "V", REG_SZ, "lost"), ERROR_KEY_DELETED);
  ASSERT_EQ(openKey("SOFTWARE\\Renewed\\Parent", kRead, &parent), ERROR_SUCCESS);
  ASSERT_EQ(openKey("Child", kRead, &child, parent.get()), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(child.get(), "V"), "new");
}

// A tree of many keys is read through a bounded number of descriptors, and
// keys whose parent's descriptor has been let go still answer.
TEST(RegistryHandles, ManyKeysUseFewDescriptors) {
  TempMachine machine;
  auto openDescriptors = [] {
    auto it = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(it), end(it));
  };
  const int kParents = 80;
  Key k;
  for (int i = 0; i < kParents; ++i) {
    ASSERT_EQ(createKey("SOFTWARE\\Many\\P" + std::to_string(i) + "\\Leaf", kAll, &k), 0);
    ASSERT_EQ(setRaw(k.get(), "V", REG_SZ, std::to_string(i)), ERROR_SUCCESS);
  }
  k.out();
  const auto before = openDescriptors();
  std::vector<Key> parents(kParents), leaves(kParents);
  for (int i = 0; i < kParents; ++i) {
    ASSERT_EQ(openKey("SOFTWARE\\Many\\P" + std::to_string(i), kRead, &parents[i]), ERROR_SUCCESS);
    ASSERT_EQ(openKey("Leaf", kRead, &leaves[i], parents[i].get()), ERROR_SUCCESS);
  }
  EXPECT_LE(openDescriptors(), before + 32) << "one descriptor per handle would be 160";
  // Read again in the other order, long after the first parents left the cache.
  for (int i = kParents - 1; i >= 0; --i) {
    EXPECT_EQ(valueOf(leaves[i].get(), "V"), std::to_string(i));
    EXPECT_EQ(subKeyNames(parents[i].get()), std::vector<std::string>{"Leaf"});
  }
  ASSERT_EQ(RegDeleteKeyA(parents[3].get(), "LEAF"), ERROR_SUCCESS);
  EXPECT_EQ(queryNothing(leaves[3].get(), "V"), ERROR_KEY_DELETED);
  EXPECT_EQ(valueOf(leaves[4].get(), "V"), "4");
  leaves.clear();
  parents.clear();
  EXPECT_LE(openDescriptors(), before + 32);
}

// Each call checks the one right it needs; the read-only mode.
TEST(RegistryAccess, HandleRightsAndReadOnlyMode) {
  TempMachine machine;
  Key full, read, queryOnly, enumOnly, setOnly;
  ASSERT_EQ(createKey("SOFTWARE\\Rights\\Sub", kAll, &full), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(full.get(), "V", REG_SZ, "v"), ERROR_SUCCESS);
  ASSERT_EQ(openKey("SOFTWARE\\Rights\\Sub", kRead, &read), ERROR_SUCCESS);
  EXPECT_EQ(setRaw(read.get(), "V", REG_SZ, "w"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(read.get(), "V"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(openKey("SOFTWARE\\Rights", KEY_QUERY_VALUE, &queryOnly), ERROR_SUCCESS);
  char name[64];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(queryOnly.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(openKey("SOFTWARE\\Rights\\Sub", KEY_ENUMERATE_SUB_KEYS, &enumOnly), ERROR_SUCCESS);
  EXPECT_EQ(queryNothing(enumOnly.get(), "V"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(openKey("SOFTWARE\\Rights\\Sub", KEY_SET_VALUE, &setOnly), ERROR_SUCCESS);
  EXPECT_EQ(setRaw(setOnly.get(), "V", REG_SZ, "set"), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(read.get(), "V"), "set");

  // PDA_REGISTRY_READONLY=1 refuses every write right and creation, and still
  // reads.
  regSetString("SOFTWARE\\Locked", "V", "value");
  setenv("PDA_REGISTRY_READONLY", "1", 1);
  Key k;
  for (REGSAM sam : {kAll, REGSAM(KEY_SET_VALUE), REGSAM(KEY_READ | DELETE)})
    EXPECT_EQ(openKey("SOFTWARE\\Locked", sam, &k), ERROR_ACCESS_DENIED) << sam;
  EXPECT_EQ(createKey("SOFTWARE\\Locked\\New", kRead, &k), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked"), ERROR_ACCESS_DENIED);
  // RegOpenKeyA asks for what it may get: reading only, here.
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", k.out()), ERROR_SUCCESS);
  EXPECT_EQ(setRaw(k.get(), "V", REG_SZ, "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(valueOf(k.get(), "V"), std::string("value\0", 6));
  setenv("PDA_REGISTRY_READONLY", "0", 1);  // only "1" switches it on
  EXPECT_EQ(openKey("SOFTWARE\\Locked", kAll, &k), ERROR_SUCCESS);
}

// A user who may not write the key's directory gets read rights only.
TEST(RegistryAccess, UnwritableDirectoryRefusesWriteRights) {
  TempMachine machine;
  regSetString("SOFTWARE\\Owned", "V", "root's");
  const std::string dir = hklm(machine, "SOFTWARE/Owned"), value("root's\0", 7);
  struct passwd* nobody = getpwnam("nobody");
  if (geteuid() == 0 && !nobody) GTEST_SKIP() << "no unprivileged user to act as";
  // Root writes anywhere: act as an ordinary user in a child process; an
  // ordinary user meets a directory without write permission.
  ASSERT_EQ(chmod(machine.root().c_str(), 0755), 0);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    Key k;
    EXPECT_EQ(openKey("SOFTWARE\\Owned", kAll, &k), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openKey("SOFTWARE\\Owned", kRead, &k), ERROR_SUCCESS);
    return (void)chmod(dir.c_str(), 0755);
  }
  EXPECT_EQ(inChild([&] {
              if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(3);
              Key k;
              EXPECT_EQ(openKey("SOFTWARE\\Owned", kAll, &k), ERROR_ACCESS_DENIED);
              EXPECT_EQ(createKey("SOFTWARE\\Owned\\Child", kRead, &k), ERROR_ACCESS_DENIED);
              EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Owned"), ERROR_ACCESS_DENIED);
              ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Owned", k.out()), 0);
              EXPECT_EQ(valueOf(k.get(), "V"), value);
              EXPECT_EQ(setRaw(k.get(), "V", REG_SZ, "x"), ERROR_ACCESS_DENIED);
            }),
            0);
}

// KEY_WOW64_32KEY redirects below SOFTWARE only, once, and not on a 32-bit
// machine.
TEST(RegistryViews, Wow64_32KeyIsRedirectedBelowSoftware) {
  TempMachine machine;
  unsetenv("PDA_EMULATE_32BIT");
  Key k, sw;
  ASSERT_EQ(createKey("SOFTWARE\\Vendor\\App", KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k), 0);
  ASSERT_EQ(setRaw(k.get(), "View", REG_SZ, "32"), ERROR_SUCCESS);
  EXPECT_TRUE(isDir(hklm(machine, "SOFTWARE/Wow6432Node/Vendor/App")));
  EXPECT_EQ(openKey("SOFTWARE\\Vendor\\App", KEY_READ | KEY_WOW64_64KEY, &k), ERROR_FILE_NOT_FOUND);
  // Already in the 32-bit view: not redirected twice.
  ASSERT_EQ(openKey("SOFTWARE\\Wow6432Node\\Vendor\\App", KEY_READ | KEY_WOW64_32KEY, &k), 0);
  // Relative to a 64-bit handle of SOFTWARE, the whole path is redirected.
  ASSERT_EQ(openKey("SOFTWARE", KEY_READ, &sw), ERROR_SUCCESS);
  ASSERT_EQ(openKey("Vendor\\App", KEY_READ | KEY_WOW64_32KEY, &k, sw.get()), ERROR_SUCCESS);
  EXPECT_EQ(valueOf(k.get(), "View"), "32");
  ASSERT_EQ(createKey("SYSTEM\\Setting", KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k), ERROR_SUCCESS);
  EXPECT_TRUE(isDir(hklm(machine, "SYSTEM/Setting")));
  EXPECT_EQ(openKey("SOFTWARE", KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, &k),
            ERROR_INVALID_PARAMETER);
  setenv("PDA_EMULATE_32BIT", "1", 1);
  ASSERT_EQ(createKey("SOFTWARE\\Native", KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k), ERROR_SUCCESS);
  EXPECT_TRUE(isDir(hklm(machine, "SOFTWARE/Native")));
}

#endif  // !_WIN32

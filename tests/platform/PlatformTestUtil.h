#pragma once

// Helpers for the stand-in's tests: a key handle that closes itself, value
// round trips through the registry calls, child processes, common headers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/Fixtures.h"

namespace pdatest {

const REGSAM kAll = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
const REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;

class Key {
 public:
  Key() = default;
  explicit Key(HKEY h) : _h(h) {}
  ~Key() { out(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return _h; }
  HKEY* out() {
    if (_h) RegCloseKey(_h);
    _h = nullptr;
    return &_h;
  }
  HKEY release() { return std::exchange(_h, nullptr); }

 private:
  HKEY _h = nullptr;
};

inline LONG createKey(const std::string& path, REGSAM sam, Key* key, DWORD* disposition = nullptr,
                      HKEY parent = HKEY_LOCAL_MACHINE) {
  return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                         key->out(), disposition);
}

// A key made with every right (or opened, when it exists) below HKLM.
inline Key made(const std::string& path) {
  Key k;
  EXPECT_EQ(createKey(path, kAll, &k), ERROR_SUCCESS) << path;
  return Key(k.release());
}

inline LONG openKey(const std::string& path, REGSAM sam, Key* key,
                    HKEY parent = HKEY_LOCAL_MACHINE) {
  return RegOpenKeyExA(parent, path.c_str(), 0, sam, key->out());
}

inline LONG setRaw(HKEY h, const char* name, DWORD type, const std::string& bytes) {
  return RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

// Reads a value whole: asks for its size first, then for the data.
inline LONG queryRaw(HKEY h, const char* name, DWORD* type, std::string* bytes) {
  DWORD size = 0;
  LONG rc = RegQueryValueExA(h, name, nullptr, type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  std::string data(size + 1, '\x7f');  // one guard byte past the end
  DWORD got = size;
  rc = RegQueryValueExA(h, name, nullptr, type, reinterpret_cast<BYTE*>(&data[0]), &got);
  if (rc != ERROR_SUCCESS) return rc;
  EXPECT_EQ(got, size);
  EXPECT_EQ(data[size], '\x7f') << "wrote past the size it reported";
  *bytes = data.substr(0, got);
  return rc;
}

// The value's bytes, or "<name>" when it cannot be read.
inline std::string valueOf(HKEY h, const char* name) {
  DWORD type = 0;
  std::string bytes;
  return queryRaw(h, name, &type, &bytes) == ERROR_SUCCESS ? bytes : "<" + std::string(name) + ">";
}

inline LONG queryNothing(HKEY h, const char* name) {
  return RegQueryValueExA(h, name, nullptr, nullptr, nullptr, nullptr);
}

// The subkey (or value) names of h in enumeration order.
inline std::vector<std::string> names(HKEY h, bool values) {
  std::vector<std::string> found;
  for (DWORD i = 0;; ++i) {
    std::string name(16384, '\0');
    DWORD size = values ? 16384 : 256;
    LONG rc = values ? RegEnumValueA(h, i, &name[0], &size, nullptr, nullptr, nullptr, nullptr)
                     : RegEnumKeyExA(h, i, &name[0], &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) break;
    found.push_back(name.substr(0, size));
  }
  return found;
}
inline std::vector<std::string> subKeyNames(HKEY h) {
  return names(h, false);
}
inline std::vector<std::string> valueNames(HKEY h) {
  return names(h, true);
}

inline bool isDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline std::string hklm(const TempMachine& m, const std::string& rel) {
  return m.path("registry/HKLM/" + rel);
}

inline int exitStatus(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Forks count children that wait until all exist, then run body(index), and
// returns their exit statuses (-1 for one that did not exit normally). A
// child leaves through _exit, so the parent's fixtures are not torn down
// twice; gtest failures in a child make its status 1.
inline std::vector<int> runTogether(int count, const std::function<void(int)>& body) {
  int gate[2];
  EXPECT_EQ(pipe(gate), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char c;
      while (read(gate[0], &c, 1) < 0) {
      }
      body(i);
      _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    pids.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);  // every child starts at once
  std::vector<int> statuses;
  for (pid_t pid : pids) statuses.push_back(exitStatus(pid));
  return statuses;
}

inline int inChild(const std::function<void()>& body) {
  return runTogether(1, [&](int) { body(); })[0];
}

// Whether fd has something to read within ms milliseconds.
inline bool readable(int fd, int ms) {
  pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

inline std::vector<std::string> fileLines(const std::string& path) {
  std::ifstream f(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

}  // namespace pdatest

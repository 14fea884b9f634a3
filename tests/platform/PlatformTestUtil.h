#pragma once

// Small helpers for the platform tests: a key handle that closes itself,
// value round trips through the registry calls, and child processes.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace pdatest {

class Key {
 public:
  Key() = default;
  explicit Key(HKEY h) : _h(h) {}
  ~Key() {
    if (_h) RegCloseKey(_h);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return _h; }
  HKEY* out() {
    if (_h) RegCloseKey(_h);
    _h = nullptr;
    return &_h;
  }
  HKEY release() {
    HKEY h = _h;
    _h = nullptr;
    return h;
  }

 private:
  HKEY _h = nullptr;
};

inline LONG createKey(const std::string& path, REGSAM sam, Key* key, DWORD* disposition = nullptr,
                      HKEY parent = HKEY_LOCAL_MACHINE) {
  return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                         key->out(), disposition);
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

// The subkey names of h in enumeration order.
inline std::vector<std::string> subKeyNames(HKEY h) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD size = sizeof name;
    LONG rc = RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  return names;
}

// The value names of h in enumeration order.
inline std::vector<std::string> valueNames(HKEY h) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    std::string name(16384, '\0');
    DWORD size = static_cast<DWORD>(name.size());
    LONG rc = RegEnumValueA(h, i, &name[0], &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) break;
    names.push_back(name.substr(0, size));
  }
  return names;
}

// Sets an environment variable for the life of the object and then restores
// it, so a test that runs in a shared process leaves no switch behind.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : _name(name) {
    const char* old = std::getenv(name);
    _had = old != nullptr;
    if (_had) _old = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (_had)
      setenv(_name.c_str(), _old.c_str(), 1);
    else
      unsetenv(_name.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string _name, _old;
  bool _had = false;
};

// Runs body in a forked child and returns its exit status (-1 when it did not
// exit normally). The child leaves through _exit, so the parent's fixtures are
// not torn down twice; gtest failures in the child make the status 1.
inline int inChild(const std::function<void()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace pdatest

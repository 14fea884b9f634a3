// Dynamic libraries through dlopen: a library keeps its Windows file name (an
// installed suite links "SQLite.Interop.dll" to the system's SQLite), and the
// handles are dlopen's. Each handle LoadLibraryA returned is counted, so that
// FreeLibrary of a handle not loaded here (or freed once too often) fails with
// ERROR_INVALID_HANDLE instead of reaching dlclose, where it would be undefined.

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/platform.h"

namespace {

// Never destroyed (PosixSupport.h says why).
std::mutex& modulesMutex() {
  static auto* m = new std::mutex;
  return *m;
}
// Handle to the number of LoadLibraryA calls not yet matched by FreeLibrary.
std::unordered_map<void*, unsigned long>& modules() {
  static auto* table = new std::unordered_map<void*, unsigned long>;
  return *table;
}

bool isLoaded(void* handle) {
  std::lock_guard<std::mutex> guard(modulesMutex());
  return modules().count(handle) != 0;
}

}  // namespace

extern "C" {

HMODULE pdaLoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!*lpLibFileName) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = ::dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(modulesMutex());
  ++modules()[handle];
  return handle;
}

FARPROC pdaGetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!hModule || !isLoaded(hModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Windows takes a value below 0x10000 as an ordinal rather than a name;
  // libraries here export no ordinals, and such a value is not dereferenced.
  if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000u) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  ::dlerror();
  void* symbol = ::dlsym(hModule, lpProcName);
  if (!symbol || ::dlerror() != nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC proc;
  static_assert(sizeof proc == sizeof symbol, "function and data pointers differ in size");
  std::memcpy(&proc, &symbol, sizeof proc);
  return proc;
}

BOOL pdaFreeLibrary(HMODULE hLibModule) {
  {
    std::lock_guard<std::mutex> guard(modulesMutex());
    auto it = modules().find(hLibModule);
    if (!hLibModule || it == modules().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second == 0) modules().erase(it);
  }
  if (::dlclose(hLibModule) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"

namespace pda {
namespace platform {

bool isAbsolutePath(const char* path) noexcept {
  return path != nullptr && path[0] == '/';
}

// dlopen searches nothing for a path that contains a slash, and the libraries
// it depends on are found through the system's own search (never the current
// directory unless the environment names it).
HMODULE loadLibraryFromAbsolutePath(const char* path) {
  if (!isAbsolutePath(path)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryA(path);
}

}  // namespace platform
}  // namespace pda

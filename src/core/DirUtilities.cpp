#include "pda/DirUtilities.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/OnceGuard.h"
#include "platform/platform.h"

namespace {

const std::size_t kPathSize = 1024;

const char* const kSuiteKey32 = "SOFTWARE\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kSuiteKey64 = "SOFTWARE\\Wow6432Node\\Tessaro\\Quillon Suite\\CurrentVersion";
const char* const kSuiteDataFolder = "Tessaro" PDA_PATH_SEP "Tessaro Quillon";

// What getBaseDir answers when no base directory is registered. It carries no
// trailing separator; callers join file names to the base directory with
// pda::buildPath, which inserts one, so they get "./bin/..." (a path relative
// to the working directory) rather than ".bin/...".
const char* const kNoBaseDir = ".";

// Guards the creation of _dirLock; the lock guards the paths and their flags.
std::atomic<bool> _dirLockCreated{false};
CRITICAL_SECTION _dirLock;

// Each buffer is written only under _dirLock and only before its flag is set,
// and is handed out only after that: a returned path never changes.
char _baseDir[kPathSize];
int _baseDirFound = 0;
char _sharedDataDir[kPathSize];
int _sharedDataDirBuilt = 0;
char _pxiDataDir[kPathSize];
int _pxiDataDirBuilt = 0;

// Appends text to buffer (size bytes) when the whole of it fits with the
// terminator; returns false and leaves buffer as it was otherwise.
bool append(char* buffer, std::size_t size, const char* text) {
  std::size_t have = std::strlen(buffer);
  std::size_t add = std::strlen(text);
  if (have + add >= size) return false;
  std::memcpy(buffer + have, text, add + 1);
  return true;
}

// Builds the common application data folder followed by the suite's data
// folder and tail into out; returns false when the shell cannot name the
// folder or the result would not fit.
bool buildDataDir(char (&out)[kPathSize], const char* tail) {
  char path[kPathSize];
  path[0] = '\0';
  if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
    return false;
  path[kPathSize - 1] = '\0';
  if (!append(path, kPathSize, PDA_PATH_SEP) || !append(path, kPathSize, kSuiteDataFolder) ||
      !append(path, kPathSize, tail))
    return false;
  std::memcpy(out, path, kPathSize);
  return true;
}

// The cached data directory with the given tail. A failed lookup answers ""
// from a constant rather than from the buffer, so that a caller still holding
// that answer never sees the buffer written by a later, successful retry.
const char* dataDir(char (&buffer)[kPathSize], int& built, const char* tail) {
  pda::createCriticalSectionOnce(_dirLockCreated, _dirLock,
                                 "GetDirUtilities_Mutex_20150512_PID_%d");
  pda::CriticalSectionLock lock(_dirLock);
  if (!built && buildDataDir(buffer, tail)) built = 1;
  return built ? buffer : "";
}

}  // namespace

// The registry is read at the first call only. The answer, the registered
// text or the fallback ".", is kept for the life of the process: a base
// directory registered later is not seen until the process restarts.
const char* DirUtilities::getBaseDir() {
  pda::createCriticalSectionOnce(_dirLockCreated, _dirLock,
                                 "GetDirUtilities_Mutex_20150512_PID_%d");
  pda::CriticalSectionLock lock(_dirLock);
  if (!_baseDirFound) {
    _baseDir[0] = '\0';

    // A 32-bit Windows has no WOW64 system folder and says so with
    // ERROR_CALL_NOT_IMPLEMENTED; there the suite's key is not redirected.
    char systemWow64[kPathSize];
    SetLastError(0);
    GetSystemWow64DirectoryA(systemWow64, static_cast<UINT>(sizeof systemWow64));
    const char* key = GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? kSuiteKey32 : kSuiteKey64;

    bool found = false;
    HKEY handle = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &handle) == ERROR_SUCCESS) {
      DWORD type = 0;
      DWORD size = static_cast<DWORD>(kPathSize);
      LONG rc = RegQueryValueExA(handle, "BaseDir", nullptr, &type,
                                 reinterpret_cast<LPBYTE>(_baseDir), &size);
      // The value is taken as text whatever its registry type. Data stored
      // without a terminator gets one; data that fills the whole buffer
      // without one is too long to hold and is not used.
      if (rc == ERROR_SUCCESS && size <= kPathSize) {
        if (size < kPathSize) {
          _baseDir[size] = '\0';
          found = true;
        } else {
          found = std::memchr(_baseDir, '\0', kPathSize) != nullptr;
        }
      }
      RegCloseKey(handle);
    }
    if (!found) std::memcpy(_baseDir, kNoBaseDir, std::strlen(kNoBaseDir) + 1);
    _baseDirFound = 1;
  }
  return _baseDir;
}

const char* DirUtilities::getSharedDataDir() {
  return dataDir(_sharedDataDir, _sharedDataDirBuilt, PDA_PATH_SEP);
}

const char* DirUtilities::getPxiDataDir() {
  return dataDir(_pxiDataDir, _pxiDataDirBuilt, PDA_PATH_SEP "PXI" PDA_PATH_SEP);
}

namespace {

const std::size_t kMessageSize = 5120;
const char kCutMark[] = "...";

}  // namespace

// A message too long for the 5120-byte buffer is not dropped: it is cut to
// what fits and ends with "..." so that a reader of the log sees it was cut,
// and that text is reported. The result is the length of the text reported
// (5119 for a cut message), or -1 when the message could not be formatted at
// all (a null format, or an encoding error), in which case an empty message is
// still reported so that the event is not lost.
int logEvent(const char* sourceName, unsigned short eventType, const char* format, ...) {
  // Saved first: nothing below may change what the caller reads afterwards
  // from GetLastError (typically the code of the operation being reported).
  const DWORD savedError = GetLastError();

  char message[kMessageSize];
  message[0] = '\0';
  int result = -1;
  if (format) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, kMessageSize, format, args);
    va_end(args);
    if (n < 0) {
      message[0] = '\0';
    } else if (static_cast<std::size_t>(n) >= kMessageSize) {
      const std::size_t keep = kMessageSize - sizeof kCutMark;
      std::memcpy(message + keep, kCutMark, sizeof kCutMark);
      result = static_cast<int>(kMessageSize - 1);
    } else {
      result = n;
    }
  }

  WORD type = eventType;
  if (type != EVENTLOG_ERROR_TYPE && type != EVENTLOG_WARNING_TYPE &&
      type != EVENTLOG_INFORMATION_TYPE)
    type = EVENTLOG_INFORMATION_TYPE;

  // A source that cannot be registered, or an event that cannot be written,
  // is dropped silently: reporting is never a reason to fail the caller.
  if (sourceName) {
    HANDLE source = RegisterEventSourceA(nullptr, sourceName);
    if (source) {
      LPCSTR strings[1] = {message};
      ReportEventA(source, type, 0, 3, nullptr, 1, 0, strings, nullptr);
      DeregisterEventSource(source);
    }
  }

  SetLastError(savedError);
  return result;
}

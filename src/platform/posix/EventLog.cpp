// The event log of the emulated machine: every event is one line appended to
// <root>/EventLog/Application.log,
//
//   <UTC time, ISO 8601 with milliseconds>\t<pid>\t<source>\t<TYPE>\t<event id>\t<message>
//
// where TYPE is SUCCESS, ERROR, WARNING or INFORMATION and the message is the
// insertion strings joined by one blank. In the source and the message '\\',
// newline, carriage return and tab are written as "\\\\", "\\n", "\\r" and
// "\\t", so an event is always exactly one line with six fields. The line is
// written with one write() to a file opened O_APPEND, so that events of
// concurrent processes never interleave. The same event goes to syslog, with
// the source as ident and the matching priority.
//
// The log has a maximum size, as Windows' own has: the DWORD "MaxSize" (bytes)
// under HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application, read
// once per process and machine root, 16 MiB when absent or not a DWORD, and at least 64 KiB
// (Windows' own minimum). A writer that finds the log above it after its
// append rotates the oldest events out: the newest half of the maximum,
// starting at a line, is written to a temporary file that is renamed over the
// log, so a reader sees the old log or the new one, never a mix. Writers hold
// a shared flock on Application.log.lock around their append and the rotation
// holds it exclusively, so no event lands in a log that is being replaced;
// the lock is per open file, so threads of one process exclude each other too.
//
// Decisions:
// - The event id is written as the full unsigned 32-bit number passed.
// - Raw data and categories are accepted and not written.
// - A server name other than none or "" names another computer, which the
//   emulated machine cannot reach: RPC_S_SERVER_UNAVAILABLE, as Windows gives
//   for an unreachable one.
// - An insertion string longer than Windows accepts (31839 characters) or a
//   null one is ERROR_INVALID_PARAMETER, so that code that would fail on
//   Windows fails here too.
// - syslog keeps one ident per process; a report opens the log under its
//   source and closes it again, under a lock, so a host program that set its
//   own ident with openlog gets the default ident back afterwards.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/PosixSupport.h"

namespace {

namespace posix = pda::platform::posix;

constexpr DWORD kRpcServerUnavailable = 1722;
constexpr std::size_t kMaxInsertionString = 31839;

struct EventSource {
  std::string name;
};

// Never destroyed (PosixSupport.h says why).
std::mutex& sourcesMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::unordered_map<const void*, std::unique_ptr<EventSource>>& sources() {
  static auto* table = new std::unordered_map<const void*, std::unique_ptr<EventSource>>;
  return *table;
}

std::mutex& syslogMutex() {
  static auto* m = new std::mutex;
  return *m;
}

void appendEscaped(std::string& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += *p;
    }
  }
}

std::string utcNow() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  ::gmtime_r(&ts.tv_sec, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ts.tv_nsec / 1000000L);
  return buf;
}

const char* typeName(WORD type) {
  switch (type) {
    case EVENTLOG_SUCCESS:
      return "SUCCESS";
    case EVENTLOG_ERROR_TYPE:
      return "ERROR";
    case EVENTLOG_WARNING_TYPE:
      return "WARNING";
    case EVENTLOG_INFORMATION_TYPE:
      return "INFORMATION";
    default:
      return nullptr;
  }
}

int syslogPriority(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
      return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

constexpr std::uint64_t kDefaultMaxLogSize = 16u * 1024u * 1024u;
constexpr std::uint64_t kMinimumMaxLogSize = 64u * 1024u;

std::uint64_t readMaxLogSize() {
  // The lookup is not the caller's business: its last error stays as it was.
  const DWORD savedError = GetLastError();
  struct Restore {
    DWORD error;
    ~Restore() { SetLastError(error); }
  } restore{savedError};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return kDefaultMaxLogSize;
  DWORD value = 0, type = 0, length = sizeof value;
  const LONG rc =
      RegQueryValueExA(key, "MaxSize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &length);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || length != sizeof value) return kDefaultMaxLogSize;
  return std::max<std::uint64_t>(value, kMinimumMaxLogSize);
}

// The maximum size, read once per process for each machine root (a process
// that moves PDA_ROOT reads the new machine's value).
std::uint64_t maxLogSize(const std::string& root) {
  static auto* mutex = new std::mutex;  // never destroyed (PosixSupport.h says why)
  static auto* cachedRoot = new std::string;
  static std::uint64_t cached = 0;
  std::lock_guard<std::mutex> guard(*mutex);
  if (cached == 0 || *cachedRoot != root) {
    cached = readMaxLogSize();
    *cachedRoot = root;
  }
  return cached;
}

// An open file descriptor, closed once.
class Fd {
 public:
  explicit Fd(int fd) noexcept : _fd(fd) {}
  ~Fd() {
    if (_fd >= 0) ::close(_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const noexcept { return _fd; }
  // Closes now and gives close's errno (0 when it succeeded).
  int close() noexcept {
    const int rc = ::close(_fd);
    _fd = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int _fd;
};

int lockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

int writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int readAt(int fd, std::string& out, off_t offset, std::size_t size) {
  out.resize(size);
  std::size_t have = 0;
  while (have < size) {
    const ssize_t n = ::pread(fd, &out[have], size - have, offset + static_cast<off_t>(have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  out.resize(have);
  return 0;
}

// Replaces the log by its newest events, at most half of maxSize of them,
// beginning at a line; the newest event is kept whole even when it alone is
// longer than that. Called with the lock held exclusively, so the log does not
// grow meanwhile; a log already within maxSize (another writer rotated it
// first) is left alone. 0 or an errno value.
int rotate(const std::string& log, std::uint64_t maxSize) {
  Fd in(::open(log.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return errno == ENOENT ? 0 : errno;
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return errno;
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (size <= maxSize) return 0;
  // The byte before the kept window tells whether the window starts a line.
  const std::uint64_t keep = maxSize / 2;
  const off_t from = static_cast<off_t>(size - keep - 1);
  std::string tail;
  int e = readAt(in.get(), tail, from, static_cast<std::size_t>(keep + 1));
  if (e != 0) return e;
  std::size_t cut = tail.find('\n');
  if (cut == std::string::npos || cut + 1 >= tail.size()) {
    // The newest event is longer than the window: keep exactly that event.
    e = readAt(in.get(), tail, 0, static_cast<std::size_t>(size));
    if (e != 0) return e;
    const std::size_t last =
        tail.size() >= 2 ? tail.rfind('\n', tail.size() - 2) : std::string::npos;
    cut = last;
  }
  const std::size_t begin = cut == std::string::npos ? 0 : cut + 1;

  const std::string temporary = log + ".rotating";
  Fd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) return errno;
  e = writeAll(out.get(), tail.data() + begin, tail.size() - begin);
  // Durable before it replaces the log, so a crash never leaves an empty log.
  if (e == 0 && ::fsync(out.get()) != 0) e = errno;
  const int closed = out.close();
  if (e == 0) e = closed;
  if (e == 0 && ::rename(temporary.c_str(), log.c_str()) != 0) e = errno;
  if (e != 0) ::unlink(temporary.c_str());
  return e;
}

// Appends line to the log file and keeps the log within its maximum size; 0
// or an errno value. A failed rotation does not fail the report: the event
// itself was written.
int appendLine(const std::string& line) {
  std::string dir = posix::underRoot("EventLog");
  int e = posix::makeDirectories(dir);
  if (e != 0) return e;
  const std::string log = dir + "/Application.log";
  Fd lock(::open((log + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lock.get() < 0) return errno;
  e = lockRetrying(lock.get(), LOCK_SH);
  if (e != 0) return e;
  std::uint64_t size = 0;
  {
    Fd fd(::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0) return errno;
    // One write, so that the line lands whole at the end of the file; a retry
    // after a short write could put another process's line in between.
    ssize_t n;
    do {
      n = ::write(fd.get(), line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    e = n < 0 ? errno : (static_cast<std::size_t>(n) != line.size() ? ENOSPC : 0);
    struct stat st;
    if (::fstat(fd.get(), &st) == 0) size = static_cast<std::uint64_t>(st.st_size);
    const int closed = fd.close();
    if (e == 0) e = closed;
  }
  lockRetrying(lock.get(), LOCK_UN);
  const std::uint64_t maxSize = maxLogSize(pda::platform::machineRoot());
  if (e == 0 && size > maxSize && lockRetrying(lock.get(), LOCK_EX) == 0) {
    rotate(log, maxSize);
    lockRetrying(lock.get(), LOCK_UN);
  }
  return e;
}

}  // namespace

extern "C" {

HANDLE pdaRegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName) {
  if (!lpSourceName || !*lpSourceName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (lpUNCServerName && *lpUNCServerName) {
    SetLastError(kRpcServerUnavailable);
    return nullptr;
  }
  auto source = std::make_unique<EventSource>();
  source->name = lpSourceName;
  HANDLE h = source.get();
  std::lock_guard<std::mutex> guard(sourcesMutex());
  sources()[h] = std::move(source);
  return h;
}

BOOL pdaDeregisterEventSource(HANDLE hEventLog) {
  std::unique_ptr<EventSource> source;  // destroyed after the table's lock
  std::lock_guard<std::mutex> guard(sourcesMutex());
  auto it = sources().find(hEventLog);
  if (it == sources().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  source = std::move(it->second);
  sources().erase(it);
  return TRUE;
}

BOOL pdaReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                     WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, void* lpRawData) {
  (void)wCategory;
  (void)lpUserSid;
  std::string sourceName;
  {
    std::lock_guard<std::mutex> guard(sourcesMutex());
    auto it = sources().find(hEventLog);
    if (it == sources().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    sourceName = it->second->name;
  }
  const char* type = typeName(wType);
  if (!type || (wNumStrings > 0 && !lpStrings) || (dwDataSize > 0 && !lpRawData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string message;
  for (WORD i = 0; i < wNumStrings; ++i) {
    if (!lpStrings[i] || std::strlen(lpStrings[i]) > kMaxInsertionString) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (i > 0) message += ' ';
    message += lpStrings[i];
  }

  std::string line = utcNow();
  line += '\t';
  line += std::to_string(::getpid());
  line += '\t';
  appendEscaped(line, sourceName.c_str());
  line += '\t';
  line += type;
  line += '\t';
  line += std::to_string(dwEventID);
  line += '\t';
  appendEscaped(line, message.c_str());
  line += '\n';

  {
    std::lock_guard<std::mutex> guard(syslogMutex());
    ::openlog(sourceName.c_str(), LOG_PID, LOG_USER);
    ::syslog(syslogPriority(wType), "%s", message.c_str());
    ::closelog();
  }

  int error = appendLine(line);
  if (error != 0) {
    SetLastError(posix::win32FromErrno(error, ERROR_CANTWRITE));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
